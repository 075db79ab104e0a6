#include "db/DatabaseCheck.h"

#include <QFile>

#include "db/ConnectionImpl.h"
#include "db/FbApi.h"
#include "db/RecordSet.h"

namespace patrimonio {

namespace {

QStringList column(Connection& connection, const QString& sql) {
    RecordSet rs(connection);
    rs.setCommandText(sql);
    rs.Open();
    QStringList values;
    for (; !rs.Eof(); rs.Next()) values << rs.Fields(0).AsString().trimmed();
    return values;
}

QString value(Connection& connection, const QString& sql) {
    const QStringList values = column(connection, sql);
    return values.isEmpty() ? QString() : values.constFirst();
}

}  // namespace

QMap<QString, qint64> tableRowCounts(Connection& connection) {
    QMap<QString, qint64> counts;
    const QStringList tables = column(
        connection, QStringLiteral("SELECT RDB$RELATION_NAME FROM RDB$RELATIONS WHERE "
                                   "COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND RDB$VIEW_BLR IS NULL AND "
                                   "RDB$EXTERNAL_FILE IS NULL ORDER BY 1"));
    for (const QString& table : tables) {
        QString quoted = table;
        quoted.replace(u'"', QStringLiteral("\"\""));
        counts.insert(table,
                      value(connection, QStringLiteral("SELECT COUNT(*) FROM \"%1\"").arg(quoted))
                          .toLongLong());
    }
    return counts;
}

QStringList rowCountDifferences(const QMap<QString, qint64>& before,
                                const QMap<QString, qint64>& after, const QString& beforeWord,
                                const QString& afterWord) {
    QStringList differ;
    QStringList tables = before.keys();
    for (const QString& table : after.keys()) {
        if (!before.contains(table)) tables << table;
    }
    for (const QString& table : tables) {
        const qint64 a = before.value(table, -1);
        const qint64 b = after.value(table, -1);
        if (a == b) continue;
        const auto count = [](qint64 n) {
            return n < 0 ? QStringLiteral("sem a tabela") : QString::number(n);
        };
        differ << QStringLiteral("%1: %2 %3, %4 %5")
                      .arg(table, count(a), beforeWord, count(b), afterWord);
    }
    return differ;
}

DatabaseCheck::DatabaseCheck(const QString& databaseString, const QString& user,
                             const QString& password)
    : connection_(QStringLiteral("Conferencia")) {
    connection_.Params = {QStringLiteral("DATABASE=") + databaseString,
                          QStringLiteral("SQLDialect=3"), QStringLiteral("USER_NAME=") + user,
                          QStringLiteral("PASSWORD=") + password};
    connection_.Open();
}

DatabaseCheck::~DatabaseCheck() {
    connection_.Close();
}

int DatabaseCheck::otherAttachments() {
    return value(connection_, QStringLiteral("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE "
                                             "MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND "
                                             "MON$SYSTEM_FLAG = 0"))
        .toInt();
}

QString DatabaseCheck::fileName() {
    // The name comes as the bytes of the engine's file system, not as text of the database.
    RecordSet rs(connection_);
    rs.setCommandText(QStringLiteral("SELECT MON$DATABASE_NAME FROM MON$DATABASE"));
    rs.Open();
    return rs.Eof() ? QString() : QFile::decodeName(rs.Fields(0).AsVariant().bytes().trimmed());
}

void DatabaseCheck::dropDatabase() {
    Connection::Impl& impl = connection_.impl();
    fb::guarded([&] {
        fb::Status st;
        impl.att()->dropDatabase(&st);
        // The call ends the attachment itself.
        impl.attachment.release();
    });
    connection_.Close();
}

}  // namespace patrimonio
