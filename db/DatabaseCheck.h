#pragma once
// What a whole-database job (a compaction, a restore) checks before and after it works, on a
// connection of its own: who else is attached, which file the engine opened, and every user
// table's rows.

#include <QMap>
#include <QString>
#include <QStringList>

#include "db/Connection.h"

namespace patrimonio {

// Every user table (views and external tables hold no rows of their own) with its rows, read
// on `connection`. Raises DatabaseError.
QMap<QString, qint64> tableRowCounts(Connection& connection);

// The tables whose rows differ between two counts, each as "TABELA: 12 antes, 10 depois" with
// the two words given; empty when they agree.
QStringList rowCountDifferences(const QMap<QString, qint64>& before,
                                const QMap<QString, qint64>& after, const QString& beforeWord,
                                const QString& afterWord);

// A connection of our own to a database, for the checks; closed when dropped. Raises
// DatabaseError when the database cannot be opened.
class DatabaseCheck {
public:
    DatabaseCheck(const QString& databaseString, const QString& user, const QString& password);
    ~DatabaseCheck();
    DatabaseCheck(const DatabaseCheck&) = delete;
    DatabaseCheck& operator=(const DatabaseCheck&) = delete;

    // Attachments to the database besides this one; the engine's own (garbage collector,
    // cache writer) do not count.
    int otherAttachments();
    QMap<QString, qint64> rowCounts() { return tableRowCounts(connection_); }
    // The file as the engine opened it (an alias or a link resolved).
    QString fileName();
    Connection& connection() { return connection_; }
    // Drops the database this connection is on, file and all, through its engine (the one
    // way to remove a file the server's user owns). Raises DatabaseError.
    void dropDatabase();

private:
    Connection connection_;
};

}  // namespace patrimonio
