#pragma once
// A fresh database file per test, reached through the private server.

#include <gtest/gtest.h>

#include "TestDatabase.h"
#include "db/Connection.h"
#include "db/RecordSet.h"

namespace patrimonio::test {

class DbTest : public ::testing::Test {
protected:
    // Creates db.fdb with the DDL and connects `con` to it through the server.
    void makeDatabase(const QByteArray& ddl) {
        path = createDatabase(folder.path(QStringLiteral("db.fdb")), ddl);
        con.Params = Connection::editParams(kServerPrefix + path);
        con.Open();
    }
    QStringList rows(const QString& sql) { return queryRows(path, sql); }

    TempFolder folder;
    QString path;
    Connection con{QStringLiteral("Con_Test")};
};

}  // namespace patrimonio::test
