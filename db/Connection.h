#pragma once
// A connection to one Firebird database, opened from a parameter list of NAME=value lines
// (DATABASE, USER_NAME, PASSWORD, SQLDialect, RoleName, ...). Once open it belongs to its
// database until it is closed: a lost attachment connects again to that same database, whatever
// the list says meanwhile.

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
    // The database string of the database the connection belongs to: the one its last
    // successful connect opened, kept through a lost attachment, empty once closed (or never
    // connected).
    QString databaseString() const;
    // A line of the list the connection's database was opened with (USER_NAME, PASSWORD...),
    // empty when it is on no database or the list has no such line.
    QString openedParameter(const QString& name) const;
    // How many transactions the connection has started so far.
    long long transactionsStarted() const;
    // Connects; does nothing when already connected. A connection whose attachment was lost
    // connects again with the list of its last successful connect, so it goes back to the same
    // database; any other connects with the current Params. Raises DatabaseError when the
    // client refuses.
    void Open();
    // Lets the attachment go and forgets its database: the connection belongs to none until
    // the next successful connect. Raises nothing.
    void Close();
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
    // The list of the last successful connect, for a reconnect after a loss.
    QStringList openedWith_;
};

}  // namespace patrimonio
