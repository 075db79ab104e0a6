#include "db/DatabaseIdentity.h"

#include <QFileInfo>
#include <QUuid>
#include <filesystem>
#include <system_error>

#include "db/Connection.h"
#include "db/DatabaseBackup.h"
#include "db/RecordSet.h"

namespace patrimonio {

namespace {

const QString kMark = QStringLiteral("IMPORTADOR_MESMO_BANCO");

QString firstValue(Connection& connection, const QString& sql) {
    RecordSet rs(connection);
    rs.setCommandText(sql);
    rs.Open();
    return rs.Eof() ? QString() : rs.Fields(0).AsString();
}

// The same file on this machine, however it is named (links included).
bool sameLocalFile(const QString& a, const QString& b) {
    if (!QFileInfo::exists(a) || !QFileInfo::exists(b)) return false;
    std::error_code error;
    const bool same = std::filesystem::equivalent(std::filesystem::path(a.toStdU16String()),
                                                  std::filesystem::path(b.toStdU16String()), error);
    return !error && same;
}

}  // namespace

QString serverDatabaseName(Connection& connection) {
    return firstValue(connection, QStringLiteral("SELECT MON$DATABASE_NAME FROM MON$DATABASE"))
        .trimmed();
}

bool sameDatabase(Connection& a, Connection& b) {
    const QString nameA = serverDatabaseName(a);
    const QString nameB = serverDatabaseName(b);
    if (!nameA.isEmpty() && nameA == nameB) return true;
    if (sameLocalFile(nameA, nameB) ||
        sameLocalFile(ServerDatabase::of(a.databaseString()).database,
                      ServerDatabase::of(b.databaseString()).database)) {
        return true;
    }
    // The monitoring tables show the attachments of their own database only: a mark set on
    // a's attachment is seen from b exactly when both are on one database.
    const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    firstValue(a, QStringLiteral("SELECT RDB$SET_CONTEXT('USER_SESSION', '%1', '%2') FROM "
                                 "RDB$DATABASE")
                      .arg(kMark, token));
    const QString seen = firstValue(
        b, QStringLiteral("SELECT COUNT(*) FROM MON$CONTEXT_VARIABLES WHERE MON$VARIABLE_NAME = "
                          "'%1' AND MON$VARIABLE_VALUE = '%2'")
               .arg(kMark, token));
    firstValue(a, QStringLiteral("SELECT RDB$SET_CONTEXT('USER_SESSION', '%1', NULL) FROM "
                                 "RDB$DATABASE")
                      .arg(kMark));
    return seen.toInt() > 0;
}

}  // namespace patrimonio
