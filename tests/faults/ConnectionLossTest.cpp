// A connection whose attachment is taken away (here: shut down by another attachment through
// the monitoring tables, as a server shutdown or a dropped network does) reports the loss once,
// counts as closed, and connects again at its next use; a write-back that meets the loss fails
// as a whole instead of passing for a refused row.

#include <gtest/gtest.h>

#include "TestDatabase.h"
#include "core/Errors.h"
#include "db/Connection.h"
#include "db/RecordSet.h"

namespace patrimonio::test {

namespace {

// Shuts down every other attachment to the database, from an isql session of its own.
void killOtherAttachments(const QString& path) {
    runIsql(
        "delete from mon$attachments where mon$attachment_id <> current_connection;\n"
        "commit;\n",
        path);
}

class ConnectionLoss : public ::testing::Test {
protected:
    void SetUp() override {
        path = createDatabase(folder.path(QStringLiteral("lost.fdb")),
                              "create table T (N integer not null primary key, B blob);\n"
                              "insert into T values (1, 'one');\n");
        con.Params = Connection::editParams(kServerPrefix + path);
        con.Open();
        ASSERT_TRUE(con.Connected());
    }

    TempFolder folder;
    QString path;
    Connection con{QStringLiteral("Con_Velho")};
};

}  // namespace

TEST_F(ConnectionLoss, DirectStatementReportsTheLossThenReconnects) {
    killOtherAttachments(path);
    try {
        con.ExecuteDirect(QStringLiteral("insert into T (N) values (2)"));
        FAIL() << "a statement on a shut-down attachment succeeded";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.connectionLost()) << e.what();
    }
    EXPECT_FALSE(con.Connected());

    EXPECT_EQ(con.ExecuteDirect(QStringLiteral("insert into T (N) values (2)")), 1);
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(queryRows(path, QStringLiteral("select N from T order by N")),
              (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
}

TEST_F(ConnectionLoss, RecordSetOpenAndBlobFetchReconnect) {
    RecordSet rs(con);
    rs.setCommandText(QStringLiteral("select N, B from T"));
    rs.Open();
    killOtherAttachments(path);
    // The photo is fetched when first read: the loss shows there.
    EXPECT_THROW(rs.FieldByName(QStringLiteral("B")).AsString(), DatabaseError);
    EXPECT_FALSE(con.Connected());
    rs.Open();
    EXPECT_EQ(rs.FieldByName(QStringLiteral("B")).AsString(), QStringLiteral("one"));
    EXPECT_TRUE(con.Connected());
}

TEST_F(ConnectionLoss, WriteBackFailsAsAWholeAndKeepsItsChanges) {
    RecordSet rs(con);
    rs.setCommandText(QStringLiteral("select N, B from T"));
    rs.Open();
    rs.Append();
    rs.FieldByName(QStringLiteral("N")).setAsString(QStringLiteral("3"));
    rs.Post();
    killOtherAttachments(path);
    try {
        rs.ApplyUpdates(0);
        FAIL() << "a write-back on a shut-down attachment passed";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.connectionLost()) << e.what();
    }
    EXPECT_EQ(rs.pendingCount(), 1);
    EXPECT_EQ(rs.ApplyUpdates(0), 0);  // connects again and writes the kept row
    EXPECT_EQ(queryRows(path, QStringLiteral("select N from T order by N")),
              (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
}

// What a run does first: an attachment that died while nobody used it is found before the run
// trips over it.
TEST_F(ConnectionLoss, CheckAliveFindsASilentLossAndTheNextUseConnects) {
    con.checkAlive();
    EXPECT_TRUE(con.Connected());
    killOtherAttachments(path);
    con.checkAlive();
    EXPECT_FALSE(con.Connected());
    RecordSet rs(con);
    rs.setCommandText(QStringLiteral("select N from T"));
    rs.Open();
    EXPECT_EQ(rs.Fields(0).AsString(), QStringLiteral("1"));
    EXPECT_TRUE(con.Connected());
}

// The list may name another file by the time the loss is found (a field edited meanwhile): the
// connection still goes back to its own database, where a wrong reconnect would have written
// silently into the other file, which has the same table.
TEST_F(ConnectionLoss, AReconnectGoesBackToTheSameDatabaseWhateverTheListSaysNow) {
    const QString other =
        createDatabase(folder.path(QStringLiteral("outro.fdb")),
                       "create table T (N integer not null primary key, B blob);");
    con.Params = Connection::editParams(kServerPrefix + other);
    killOtherAttachments(path);
    con.checkAlive();
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(con.databaseString(), kServerPrefix + path);

    EXPECT_EQ(con.ExecuteDirect(QStringLiteral("insert into T (N) values (2)")), 1);
    EXPECT_EQ(con.databaseString(), kServerPrefix + path);
    EXPECT_EQ(queryRows(path, QStringLiteral("select count(*) from T")), QStringList{"2"});
    EXPECT_EQ(queryRows(other, QStringLiteral("select count(*) from T")), QStringList{"0"});

    // Closed, it belongs to no database; the next connect takes the list as it stands.
    con.Close();
    EXPECT_FALSE(con.Connected());
    EXPECT_TRUE(con.databaseString().isEmpty());
    EXPECT_EQ(con.ExecuteDirect(QStringLiteral("insert into T (N) values (3)")), 1);
    EXPECT_EQ(con.databaseString(), kServerPrefix + other);
    EXPECT_EQ(queryRows(other, QStringLiteral("select N from T")), QStringList{"3"});
}

TEST_F(ConnectionLoss, ARecordSetLeftOpenAcrossACloseGetsAnErrorNotACrash) {
    RecordSet rs(con);
    rs.setCommandText(QStringLiteral("select N, B from T"));
    rs.Open();
    con.Close();
    // The photo is fetched when first read, through the attachment that is gone.
    EXPECT_THROW(rs.FieldByName(QStringLiteral("B")).AsString(), DatabaseError);
    EXPECT_FALSE(con.Connected());
}

TEST_F(ConnectionLoss, OrdinaryErrorsLeaveTheConnectionOpen) {
    EXPECT_THROW(con.ExecuteDirect(QStringLiteral("insert into T (N) values (1)")), DatabaseError);
    EXPECT_THROW(con.ExecuteDirect(QStringLiteral("selct nonsense")), DatabaseError);
    EXPECT_TRUE(con.Connected());
}

}  // namespace patrimonio::test
