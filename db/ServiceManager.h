#pragma once
// The one client of the server's services manager: a backup, a restore, a change of a
// database's state (shut down, online again) are actions the server (or the engine inside this
// program, for a bare path) runs on its own while this process waits for it. Here: attaching,
// starting an action, and the one way of waiting for it: as long as the server says it is
// running, however long that is, asking it at most a second at a time, with a stop check
// between two answers. Its output is kept as the server's own words, streamed to a sink, or
// its input fed from a source, as the action needs.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace patrimonio {

// The server, user and password of a database string ("127.0.0.1/3052:/caminho/banco.fdb"),
// and the path the server opens.
struct ServerDatabase {
    QString server;    // "127.0.0.1/3052"; empty for a bare path (the embedded engine)
    QString database;  // the path as the server takes it
    static ServerDatabase of(const QString& databaseString);
    // The server is on this machine (or is the engine inside this program): a file it writes
    // by a path is the file this program sees by that path.
    bool onThisMachine() const;
};

// An action and its parameters, as the services manager takes them (isc_action_svc_* and
// isc_spb_* tags of ibase.h).
class ServiceRequest {
public:
    explicit ServiceRequest(unsigned char action);
    ServiceRequest& text(unsigned char tag, const QByteArray& value);
    ServiceRequest& number(unsigned char tag, unsigned value);
    ServiceRequest& byte(unsigned char tag, unsigned char value);
    ServiceRequest& flag(unsigned char tag);

    struct Item {
        enum Kind { Text, Number, Byte, Flag } kind;
        unsigned char tag;
        QByteArray text;
        unsigned number = 0;
    };
    unsigned char action() const { return action_; }
    const std::vector<Item>& items() const { return items_; }

private:
    unsigned char action_;
    std::vector<Item> items_;
};

class ServiceManager {
public:
    // Attaches to the services manager of `target`'s server (the engine in this process for a
    // bare path). Raises DatabaseError with the server's message when it refuses.
    ServiceManager(const ServerDatabase& target, const QString& user, const QString& password);
    ~ServiceManager();
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    // Returns true when the caller gives up waiting (the server is then left to finish alone).
    using StopCheck = std::function<bool()>;

    // Runs the action to its end and returns the lines the server wrote (an action started
    // with isc_spb_verbose writes one per stage). An error the server met raises DatabaseError
    // with its message and the last lines.
    QStringList run(const ServiceRequest& request, const StopCheck& stop = {});

    // Runs an action whose output is a stream of bytes (a backup to "stdout"): each piece goes
    // to `sink` as it comes, which may raise to end it.
    void receive(const ServiceRequest& request,
                 const std::function<void(const char* bytes, qint64 length)>& sink,
                 const StopCheck& stop = {});

    // Runs an action that reads its input from this process (a restore from "stdin"): `source`
    // fills at most `room` bytes and returns how many it gave, 0 at the end. Returns the lines
    // the server wrote.
    QStringList send(const ServiceRequest& request,
                     const std::function<qint64(char* bytes, qint64 room)>& source,
                     const StopCheck& stop = {});

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// What a stop check raises when it gave up waiting.
QString serviceAbandonedText();

}  // namespace patrimonio
