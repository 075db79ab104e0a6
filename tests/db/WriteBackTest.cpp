// The generated statements and the refused-row rule of write-backs; direct statements and the
// throw-away record sets of the target side.

#include "DbFixture.h"
#include "core/Errors.h"
#include "db/DataModule.h"
#include "db/WriteBackSql.h"

namespace patrimonio::test {
namespace {

TEST(WriteBackSql, TableIsTheFirstNameAfterTheFirstFrom) {
    const struct {
        const char* select;
        const char* table;
    } cases[] = {
        {"SELECT * FROM PAT_RESPONSAVEL", "\"PAT_RESPONSAVEL\""},
        {"select BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME\nfrom PAT_BEM where BEM_CODIGO > 0",
         "\"PAT_BEM\""},
        {"select first 100 skip 0 * from pat_bem order by BEM_CODIGO", "\"PAT_BEM\""},
        {"select * from \"Mixed Case\" x", "\"Mixed Case\""},
        {"select 1 from rdb$database", "\"RDB$DATABASE\""},
        {"select 1", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sql::tableOfSelect(QString::fromLatin1(c.select)), QString::fromLatin1(c.table))
            << c.select;
    }
}

class WriteBackTest : public DbTest {
protected:
    void SetUp() override {
        makeDatabase(
            "create table PAT_BEM (BEM_CODIGO integer not null primary key,\n"
            "  BEM_DESCRICAO varchar(40) default 'sem descricao', BEM_VALOR numeric(15,2),\n"
            "  BEM_IMAGEM blob sub_type 0, BEM_IMAGEM_NOME varchar(100),\n"
            "  BEM_OBS varchar(8192), BEM_DOBRO computed by (BEM_VALOR * 2));\n"
            "create table DUPLA (N integer, T varchar(10));\n"
            "insert into DUPLA values (1, 'a');\n"
            "insert into DUPLA values (1, 'a');\n");
        rs.setCommandText(QStringLiteral("SELECT * FROM PAT_BEM"));
        rs.Open();
    }
    // Appends rows with the codes given, each with a description.
    void appendRows(RecordSet& target, std::initializer_list<int> codes) {
        for (int code : codes) {
            target.Append();
            target.Fields(0).setAsVariant(Value::integer(code));
            target.Fields(1).setAsString(QStringLiteral("bem %1").arg(code));
            target.Post();
        }
    }
    QStringList codes() {
        return rows(QStringLiteral("select BEM_CODIGO from PAT_BEM order by 1"));
    }
    RecordSet rs{con};
};

TEST_F(WriteBackTest, InsertNamesOnlyAssignedFields) {
    rs.Append();
    rs.FieldByName(QStringLiteral("BEM_CODIGO")).setAsVariant(Value::integer(1));
    rs.FieldByName(QStringLiteral("BEM_VALOR")).setAsVariant(Value());  // named, sent as NULL
    rs.FieldByName(QStringLiteral("BEM_DOBRO")).setAsVariant(Value::integer(5));  // computed
    rs.Post();
    EXPECT_EQ(rs.pendingStatementText(0), QStringLiteral("insert into \"PAT_BEM\"\n"
                                                         "  (\"BEM_CODIGO\", \"BEM_VALOR\")\n"
                                                         "values\n"
                                                         "  (?, ?)"));
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    // The description was left out, so the column's default applies.
    EXPECT_EQ(rows(QStringLiteral("select * from PAT_BEM")),
              QStringList{"1|sem descricao|<null>|<null>|<null>|<null>|<null>"});
}

TEST_F(WriteBackTest, UpdateComparesReadValuesButNoBlobOrLongColumn) {
    con.ExecuteDirect(QStringLiteral(
        "insert into PAT_BEM (BEM_CODIGO, BEM_DESCRICAO, BEM_VALOR) values (7, 'mesa', 12.50)"));
    rs.Close();
    rs.setCommandText(QStringLiteral("SELECT * FROM PAT_BEM"));
    rs.Open();
    rs.Edit();
    rs.FieldByName(QStringLiteral("BEM_IMAGEM")).setAsVariant(Value::binary("jpeg"));
    rs.FieldByName(QStringLiteral("BEM_IMAGEM_NOME")).setAsString(QStringLiteral("7.jpg"));
    rs.Post();
    EXPECT_EQ(rs.pendingStatementText(0), QStringLiteral("update \"PAT_BEM\"  set\n"
                                                         " \"BEM_IMAGEM\" = ?,\n"
                                                         " \"BEM_IMAGEM_NOME\" = ?\n"
                                                         "where\n"
                                                         " \"BEM_CODIGO\" = ? and\n"
                                                         " \"BEM_DESCRICAO\" = ? and\n"
                                                         " \"BEM_VALOR\" = ? and\n"
                                                         " \"BEM_IMAGEM_NOME\" is null"));
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(rows(QStringLiteral("select BEM_CODIGO, BEM_VALOR, BEM_IMAGEM, BEM_IMAGEM_NOME "
                                  "from PAT_BEM")),
              QStringList{"7|12.50|jpeg|7.jpg"});
}

TEST_F(WriteBackTest, PhotoBatchShape) {
    con.ExecuteDirect(QStringLiteral("insert into PAT_BEM (BEM_CODIGO) values (3)"));
    RecordSet batch(con);
    batch.setCommandText(QStringLiteral(
        "SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM WHERE BEM_CODIGO > 0"));
    batch.Open();
    batch.Edit();
    batch.Fields(1).setAsVariant(Value::binary("novo"));
    batch.Fields(2).setAsString(QStringLiteral("3.jpg"));
    batch.Post();
    EXPECT_EQ(batch.pendingStatementText(0),
              QStringLiteral("update \"PAT_BEM\"  set\n \"BEM_IMAGEM\" = ?,\n"
                             " \"BEM_IMAGEM_NOME\" = ?\nwhere\n \"BEM_CODIGO\" = ? and\n"
                             " \"BEM_IMAGEM_NOME\" is null"));
    EXPECT_EQ(batch.ApplyUpdates(0), 0);
    EXPECT_EQ(rows(QStringLiteral("select BEM_IMAGEM, BEM_IMAGEM_NOME from PAT_BEM")),
              QStringList{"novo|3.jpg"});
}

TEST_F(WriteBackTest, NothingPendingStartsNoTransaction) {
    const long long before = con.transactionsStarted();
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    rs.Append();  // nothing assigned: dropped
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(con.transactionsStarted(), before);
}

TEST_F(WriteBackTest, ARefusedRowKeepsRefusingEveryLaterWriteBack) {
    con.ExecuteDirect(QStringLiteral("insert into PAT_BEM (BEM_CODIGO) values (3)"));
    std::vector<int> results;
    for (int code = 1; code <= 10; ++code) {
        appendRows(rs, {code});
        results.push_back(rs.ApplyUpdates(0));
    }
    EXPECT_EQ(results, (std::vector<int>{0, 0, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(codes(), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(rs.pendingCount(), 8);  // row 3 and everything after it
    ASSERT_TRUE(rs.lastRefusal());
    EXPECT_EQ(rs.lastRefusal()->changeIndex, 0);
}

TEST_F(WriteBackTest, ARefusedRowUndoesTheWholeBatch) {
    con.ExecuteDirect(QStringLiteral("insert into PAT_BEM (BEM_CODIGO) values (40)"));
    for (int code = 1; code <= 100; ++code) appendRows(rs, {code});
    EXPECT_EQ(rs.ApplyUpdates(0), 1);
    EXPECT_EQ(codes(), QStringList{"40"});
    EXPECT_EQ(rs.pendingCount(), 100);
    for (int i : {0, 39, 99})
        EXPECT_TRUE(rs.pendingStatementText(i).startsWith(QStringLiteral("insert into")));

    // The report names the refused change; dropping it lets the others arrive.
    ASSERT_TRUE(rs.lastRefusal());
    const Refusal r = *rs.lastRefusal();
    EXPECT_EQ(r.changeIndex, 39);
    EXPECT_EQ(r.firstColumn, Value::integer(40));
    EXPECT_EQ(r.sqlState, QStringLiteral("23000"));
    EXPECT_TRUE(r.message.contains(QStringLiteral("PRIMARY or UNIQUE KEY")))
        << r.message.toStdString();
    rs.dropPendingChange(r.changeIndex);
    EXPECT_EQ(rs.RecordCount(), 99);
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_FALSE(rs.lastRefusal());
    EXPECT_EQ(rs.pendingCount(), 0);
    EXPECT_EQ(rows(QStringLiteral("select count(*), sum(BEM_CODIGO) from PAT_BEM")),
              QStringList{"100|5050"});
}

TEST_F(WriteBackTest, DroppingARefusedEditRestoresTheValuesAsRead) {
    appendRows(rs, {1, 2});
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
    rs.First();
    rs.Edit();
    rs.Fields(0).setAsVariant(Value::integer(2));  // the key of the other row
    rs.Next();
    rs.Edit();
    rs.Fields(1).setAsString(QStringLiteral("segundo"));
    EXPECT_EQ(rs.ApplyUpdates(0), 1);
    ASSERT_TRUE(rs.lastRefusal());
    EXPECT_EQ(rs.lastRefusal()->changeIndex, 0);
    EXPECT_EQ(rs.lastRefusal()->firstColumn, Value::integer(2));
    rs.dropPendingChange(0);
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    rs.First();
    EXPECT_EQ(rs.Fields(0).AsString(), QStringLiteral("1"));
    EXPECT_EQ(rows(QStringLiteral("select BEM_CODIGO, BEM_DESCRICAO from PAT_BEM order by 1")),
              (QStringList{"1|bem 1", "2|segundo"}));
}

TEST_F(WriteBackTest, ADirectStatementSurvivesARolledBackWriteBack) {
    appendRows(rs, {1});
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    appendRows(rs, {1});  // a duplicate
    con.ExecuteDirect(QStringLiteral("insert into PAT_BEM (BEM_CODIGO) values (2)"));
    EXPECT_EQ(rs.ApplyUpdates(0), 1);
    EXPECT_EQ(codes(), (QStringList{"1", "2"}));
}

TEST_F(WriteBackTest, ChangedOrDuplicatedRowsAreRefused) {
    appendRows(rs, {1});
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
    rs.Edit();
    rs.Fields(1).setAsString(QStringLiteral("mudado aqui"));
    con.ExecuteDirect(QStringLiteral("update PAT_BEM set BEM_DESCRICAO = 'mudado la'"));
    EXPECT_EQ(rs.ApplyUpdates(0), 1);
    EXPECT_EQ(rs.lastRefusal()->message,
              QStringLiteral("Record not found or changed by another user"));

    RecordSet dupla(con);
    dupla.setCommandText(QStringLiteral("select * from DUPLA"));
    dupla.Open();
    dupla.Edit();
    dupla.Fields(1).setAsString(QStringLiteral("b"));
    EXPECT_EQ(dupla.ApplyUpdates(0), 1);
    EXPECT_EQ(dupla.lastRefusal()->message, QStringLiteral("Update affected more than 1 record."));
    EXPECT_EQ(rows(QStringLiteral("select T from DUPLA")), (QStringList{"a", "a"}));
}

TEST_F(WriteBackTest, SqlDinamicoCDS) {
    DataModule dm;
    dm.Con_Velho.Params = Connection::editParams(kServerPrefix + path);

    auto blank = dm.SqlDinamicoCDS(QStringLiteral("  \t "), QStringLiteral("O"));
    ASSERT_NE(blank, nullptr);
    EXPECT_FALSE(blank->active());
    EXPECT_EQ(dm.SqlDinamicoCDS(QStringLiteral("select * from NOWHERE"), QStringLiteral("O")),
              nullptr);
    EXPECT_EQ(dm.SqlDinamicoCDS(QStringLiteral("delete from NOWHERE"), QStringLiteral("E")),
              nullptr);

    auto exec = dm.SqlDinamicoCDS(QStringLiteral("insert into PAT_BEM (BEM_CODIGO) values (8)"),
                                  QStringLiteral("e"));
    ASSERT_NE(exec, nullptr);
    EXPECT_FALSE(exec->active());
    EXPECT_EQ(codes(), QStringList{"8"});

    auto opened =
        dm.SqlDinamicoCDS(QStringLiteral("select BEM_CODIGO from PAT_BEM"), QStringLiteral("o"));
    ASSERT_NE(opened, nullptr);
    ASSERT_TRUE(opened->active());
    EXPECT_EQ(opened->Fields(0).AsString(), QStringLiteral("8"));
    EXPECT_EQ(&opened->connection(), &dm.Con_Velho);

    auto other = dm.SqlDinamicoCDS(QStringLiteral("select * from PAT_BEM"), QStringLiteral("X"));
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(other->active());
}

}  // namespace
}  // namespace patrimonio::test
