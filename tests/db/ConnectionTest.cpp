// Connections against the private server and, for bare paths, the embedded engine.

#include <QDir>

#include "DbFixture.h"
#include "core/Errors.h"
#include "db/Connection.h"
#include "db/RecordSet.h"

namespace patrimonio::test {
namespace {

TEST(ConnectionParams, ListsAreTheFixedOnes) {
    const QStringList initial = Connection::initialParams();
    ASSERT_EQ(initial.size(), 14);
    EXPECT_EQ(initial.first(), QStringLiteral("DriverName=Firebird"));
    EXPECT_EQ(initial.last(), QStringLiteral("Trim Char=False"));
    EXPECT_TRUE(initial.contains(QStringLiteral("ServerCharSet=")));
    EXPECT_EQ(Connection::editParams(QStringLiteral("127.0.0.1/3052: /x.fdb")),
              (QStringList{
                  QStringLiteral("DATABASE=127.0.0.1/3052: /x.fdb"), QStringLiteral("SQLDialect=3"),
                  QStringLiteral("USER_NAME=SYSDBA"), QStringLiteral("PASSWORD=quillfern"),
                  QStringLiteral("COMMITRETAIN=False"), QStringLiteral("RoleName=RoleName")}));
    Connection c(QStringLiteral("Con_Novo"));
    EXPECT_EQ(c.Params, initial);
    EXPECT_FALSE(c.Connected());
    EXPECT_FALSE(c.LoginPrompt);
    EXPECT_EQ(c.DriverName, QStringLiteral("Firebird"));
}

TEST(Connection, WrongPathFailsWithTheServersMessage) {
    TempFolder folder;
    Connection c(QStringLiteral("Con_Novo"));
    c.Params = Connection::editParams(kServerPrefix + folder.path(QStringLiteral("missing.fdb")));
    try {
        c.Open();
        FAIL() << "connected to a file that does not exist";
    } catch (const DatabaseError& e) {
        EXPECT_FALSE(e.message().isEmpty());
        EXPECT_FALSE(e.sqlState().isEmpty());
    }
    EXPECT_FALSE(c.Connected());
}

TEST(Connection, WrongPasswordIsRefused) {
    TempFolder folder;
    const QString path = createDatabase(folder.path(QStringLiteral("a.fdb")));
    Connection c(QStringLiteral("Con_Novo"));
    c.Params = Connection::editParams(kServerPrefix + path);
    c.Params[3] = QStringLiteral("PASSWORD=wrong");
    try {
        c.Open();
        FAIL() << "a wrong password was accepted";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.sqlState(), QStringLiteral("28000"));
    }
}

TEST(Connection, StaysWithItsFirstDatabase) {
    TempFolder folder;
    const QString a =
        createDatabase(folder.path(QStringLiteral("a.fdb")), "create table T (N integer);");
    const QString b =
        createDatabase(folder.path(QStringLiteral("b.fdb")), "create table T (N integer);");
    Connection c(QStringLiteral("Con_Velho"));
    c.Params = Connection::editParams(kServerPrefix + a);
    c.Open();
    c.Params = Connection::editParams(kServerPrefix + b);
    c.Open();  // already connected: nothing changes
    EXPECT_EQ(c.databaseString(), kServerPrefix + a);
    EXPECT_EQ(c.ExecuteDirect(QStringLiteral("insert into T values (1)")), 1);
    EXPECT_EQ(queryRows(a, QStringLiteral("select count(*) from T")), QStringList{"1"});
    EXPECT_EQ(queryRows(b, QStringLiteral("select count(*) from T")), QStringList{"0"});
}

TEST(Connection, ImplicitConnectUsesTheCurrentList) {
    TempFolder folder;
    const QString a =
        createDatabase(folder.path(QStringLiteral("a.fdb")), "create table T (N integer);");
    Connection c(QStringLiteral("Con_Velho"));
    c.Params = Connection::editParams(kServerPrefix + a);
    EXPECT_EQ(c.ExecuteDirect(QStringLiteral("insert into T values (7)")), 1);
    EXPECT_TRUE(c.Connected());

    Connection initial(QStringLiteral("Con_Novo"));  // "database.fdb" names nothing here
    RecordSet rs(initial);
    rs.setCommandText(QStringLiteral("select * from T"));
    EXPECT_THROW(rs.Open(), DatabaseError);
    EXPECT_FALSE(rs.active());
}

TEST(Connection, ExecuteDirectRaisesWithSqlState) {
    TempFolder folder;
    const QString a = createDatabase(folder.path(QStringLiteral("a.fdb")),
                                     "create table T (N integer not null primary key);");
    Connection c(QStringLiteral("Con_Velho"));
    c.Params = Connection::editParams(kServerPrefix + a);
    EXPECT_EQ(c.ExecuteDirect(QStringLiteral("insert into T values (1)")), 1);
    try {
        c.ExecuteDirect(QStringLiteral("insert into T values (1)"));
        FAIL() << "a duplicate key was accepted";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.sqlState(), QStringLiteral("23000"));
        EXPECT_TRUE(e.message().contains(QStringLiteral("PRIMARY or UNIQUE KEY"))) << e.what();
    }
    EXPECT_THROW(c.ExecuteDirect(QStringLiteral("selct nonsense")), DatabaseError);
    EXPECT_EQ(c.ExecuteDirect(QStringLiteral("update T set N = N + 10")), 1);
}

// A bare path is opened by this process through the embedded engine, which the server's
// lock on the file keeps out while a server client is attached.
TEST(Connection, BarePathOpensEmbeddedOnlyWhenTheServerDoesNotHoldTheFile) {
    TempFolder folder;
    const QString path = createDatabase(folder.path(QStringLiteral("photos.fdb")),
                                        "create table T (N integer);\ninsert into T values (5);");
    {
        Connection bare(QStringLiteral("Con_Novo"));
        bare.Params = Connection::editParams(path);
        ASSERT_NO_THROW(bare.Open());
        RecordSet rs(bare);
        rs.setCommandText(QStringLiteral("select N from T"));
        rs.Open();
        EXPECT_EQ(rs.Fields(0).AsString(), QStringLiteral("5"));
    }
    Connection server(QStringLiteral("Con_Velho"));
    server.Params = Connection::editParams(kServerPrefix + path);
    server.Open();
    Connection bare(QStringLiteral("Con_Novo"));
    bare.Params = Connection::editParams(path);
    try {
        bare.Open();
        FAIL() << "the bare path reached a file the server holds";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("lock"))) << e.what();
    }
    EXPECT_FALSE(bare.Connected());
}

TEST(Connection, AccentedPathAndTextRoundTrip) {
    TempFolder folder;
    folder.folder(QStringLiteral("dados"));
    const QString path = createDatabase(folder.path(QStringLiteral("dados/patrimônio.fdb")),
                                        "create table T (NOME varchar(40) character set WIN1252);");
    Connection c(QStringLiteral("Con_Velho"));
    c.Params = Connection::editParams(kServerPrefix + path);
    c.Open();
    c.ExecuteDirect(QStringLiteral("insert into T values ('RESERVA DE CONTIGÊNCIA')"));
    RecordSet rs(c);
    rs.setCommandText(QStringLiteral("select NOME from T"));
    rs.Open();
    EXPECT_EQ(rs.Fields(0).AsString(), QStringLiteral("RESERVA DE CONTIGÊNCIA"));
    EXPECT_EQ(rs.Fields(0).AsVariant().bytes(), QByteArray("RESERVA DE CONTIG\xCA"
                                                           "NCIA"));
    // Read and written back, the bytes arrive unchanged.
    rs.Append();
    rs.Fields(0).setAsVariant(Value::text("S\xE3o Jo\xE3o \x80"));
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(queryRows(path, QStringLiteral("select octet_length(NOME), NOME from T order by 2")),
              (QStringList{QString::fromLatin1("22|RESERVA DE CONTIG\xCA"
                                               "NCIA"),
                           QString::fromLatin1("10|S\xE3o Jo\xE3o \x80")}));
}

}  // namespace
}  // namespace patrimonio::test
