#pragma once
// A connection to one Firebird database, opened from a parameter list of NAME=value lines
// (DATABASE, USER_NAME, PASSWORD, SQLDialect, RoleName, ...). Once open it stays with its
// database until it is destroyed.

#include <QString>
#include <QStringList>
#include <memory>

namespace patrimonio {

class Connection {
public:
    explicit Connection(const QString& name);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const QString& name() const { return name_; }

    // The parameter list handed to the client at the next connect.
    QStringList Params;
    bool LoginPrompt = false;
    QString DriverName = QStringLiteral("Firebird");

    // The list both connections start with.
    static QStringList initialParams();
    // The six lines every edit box writes: DATABASE, SQLDialect, USER_NAME, PASSWORD,
    // COMMITRETAIN, RoleName.
    static QStringList editParams(const QString& database);

    bool Connected() const;
    // The database string the open connection was made with (empty when not connected).
    QString databaseString() const;
    // How many transactions the connection has started so far.
    long long transactionsStarted() const;
    // Connects with the current Params; does nothing when already connected.
    // Raises DatabaseError when the client refuses.
    void Open();
    // Asks the server whether the open attachment is still there (one round trip). One that was
    // lost (server restarted, network dropped) is let go, so that Connected() turns false and
    // the next use connects again. Raises nothing.
    void checkAlive();

    // Runs one statement, connecting first when needed, in a transaction of its own that is
    // committed before it returns. The text is sent unchanged (encoded to WIN1252).
    // Returns the number of rows affected. Raises DatabaseError.
    int ExecuteDirect(const QString& sql);

    // Client-side state the record sets work through.
    struct Impl;
    Impl& impl() { return *impl_; }

private:
    QString name_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace patrimonio
