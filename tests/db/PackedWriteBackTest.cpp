// New rows sent many to a statement: the same target contents as one statement per row, a
// refused row found exactly wherever it stands in a packet, the server's limits on one
// statement, failures that are not about a row raised; record sets that keep their order at
// scale and their statements across write-backs.

#include <QDir>
#include <QProcess>
#include <chrono>
#include <thread>

#include "DbFixture.h"
#include "core/Errors.h"
#include "db/ChangeSender.h"
#include "db/ConnectionImpl.h"

namespace patrimonio::test {
namespace {

// The drop-and-retry loop the runs use: a refused row is noted and dropped, the rest is
// written again. Returns the refusals in the order they came.
std::vector<Refusal> writeBackDroppingRefused(RecordSet& target) {
    std::vector<Refusal> refused;
    while (target.ApplyUpdates(0) != 0) {
        const auto& r = target.lastRefusal();
        if (!r) throw std::runtime_error("a refusal without its report");
        refused.push_back(*r);
        target.dropPendingChange(r->changeIndex);
    }
    return refused;
}

// How many statements `con`'s attachment holds prepared whose text contains `text`, as the
// server's monitoring tables see them from another attachment.
int heldStatements(Connection& con, const QString& databasePath, const QString& text) {
    RecordSet probe(con);
    reopen(probe, QStringLiteral("select current_connection from rdb$database"));
    const QString id = probe.Fields(0).AsString();
    probe.Close();
    return queryRows(databasePath, QStringLiteral("select count(*) from mon$statements"
                                                  " where mon$attachment_id = %1"
                                                  " and mon$sql_text containing '%2'")
                                       .arg(id, text))
        .value(0)
        .toInt();
}

constexpr const char* kEveryType =
    "(ID integer not null primary key, SI smallint, IT integer, BI bigint, N42 numeric(4,2),\n"
    " N152 numeric(15,2), D183 decimal(18,3), FL float, DP double precision, DT date,\n"
    " TM time, TS timestamp, CH char(5) character set WIN1252,\n"
    " VC varchar(20) character set WIN1252, VU varchar(10) character set UTF8,\n"
    " BT blob sub_type 1 character set WIN1252, BB blob sub_type 0, BO boolean,\n"
    " DF varchar(10) default 'padrao')";

class PackedWriteBackTest : public DbTest {
protected:
    // Assigns row i's values: every type, NULLs and extremes in turn; rows 300 to 309 leave
    // DF unassigned, so that its default applies and the packets break around them.
    static void fill(RecordSet& rs, int i) {
        const auto set = [&](const char* name, const Value& v) {
            rs.FieldByName(QString::fromLatin1(name)).setAsVariant(v);
        };
        const bool nulls = i % 7 == 3;
        set("ID", Value::integer(i + 1));
        set("SI", nulls ? Value() : Value::integer(i % 2 ? -32768 : 32767 - i));
        set("IT", nulls ? Value() : Value::integer(i * 104729 - 2147483647LL));
        set("BI", nulls ? Value() : Value::integer((i % 3 ? -1 : 1) * (9223372036854775807LL - i)));
        set("N42", nulls ? Value() : Value::integer(i % 9999 - 5000, -2));
        set("N152", Value::integer(i * 1234567LL - 99999999, -2));
        set("D183", nulls ? Value() : Value::integer(-123456789012345678LL + i, -3));
        set("FL", nulls ? Value() : Value::floating32(static_cast<float>(i) / 3.0f));
        set("DP", nulls ? Value() : Value::floating(-1.2345678901234567e300 / (i + 1)));
        set("DT", nulls ? Value() : Value::date(-678575 + i * 997));  // from 0001-01-01
        set("TM", nulls ? Value() : Value::time(static_cast<std::uint32_t>(i) * 2877 % 864000000));
        set("TS", nulls ? Value() : Value::timestamp(i * 31, 863999999u - i));
        set("CH",
            nulls ? Value() : Value::text(QByteArray("a\xE7", 2) + QByteArray::number(i % 100)));
        set("VC", Value::text(QByteArray("S\xE3o Jo\xE3o ") + QByteArray::number(i)));
        set("VU", nulls ? Value() : Value::text(QByteArray("a\xC3\xA7\xC3\xA3o")));
        set("BT", nulls ? Value() : Value::text(QByteArray("linha\n\xE9 ").repeated(i % 5 + 1)));
        // A few BLOBs longer than one segment.
        set("BB",
            nulls ? Value()
                  : Value::binary(
                        QByteArray("\x00\xFF\x10", 3).repeated(i % 50 == 5 ? 40000 : i % 4 + 1)));
        set("BO", nulls ? Value() : Value::boolean(i % 2 == 0));
        if (i < 300 || i >= 310) set("DF", Value::text(QByteArray::number(i)));
    }
    QStringList contents(const char* table) {
        return rows(
            QStringLiteral("select ID, SI, IT, BI, N42, N152, D183, FL, DP, DT, TM, TS, CH,"
                           " octet_length(CH), VC, cast(VU as varchar(40) character set octets),"
                           " BT, BB is null,"
                           " octet_length(BB), hash(BB), BO, DF from %1 order by ID")
                .arg(QString::fromLatin1(table)));
    }
};

TEST_F(PackedWriteBackTest, SameTargetContentsAsOneStatementPerRow) {
    makeDatabase(QByteArray("create table PACKED ") + kEveryType + ";\ncreate table LONE " +
                 kEveryType + ";\n");
    constexpr int kRows = 600;
    RecordSet packed(con), lone(con);
    reopen(packed, QStringLiteral("select * from PACKED"));
    reopen(lone, QStringLiteral("select * from LONE"));
    for (int i = 0; i < kRows; ++i) {
        packed.Append();
        fill(packed, i);
        packed.Post();
        lone.Append();
        fill(lone, i);
        lone.Post();
        ASSERT_EQ(lone.ApplyUpdates(0), 0);
        ASSERT_EQ(lone.lastWriteBackStatements(), 1);
    }
    ASSERT_EQ(packed.ApplyUpdates(0), 0);
    // 300 rows (256 + 44), 10 without DF, 290 (256 + 34).
    EXPECT_EQ(packed.lastWriteBackStatements(), 5);
    const QStringList expected = contents("LONE");
    ASSERT_EQ(expected.size(), kRows);
    const QStringList got = contents("PACKED");
    ASSERT_EQ(got.size(), kRows);
    for (int i = 0; i < kRows; ++i) ASSERT_EQ(got[i].toStdString(), expected[i].toStdString()) << i;
    EXPECT_TRUE(expected[305].endsWith(QStringLiteral("|padrao")));
    // The rows written keep their values in the record set; their BLOBs are read back.
    packed.First();
    for (int i = 0; i < 5; ++i) packed.Next();
    EXPECT_EQ(packed.FieldByName(QStringLiteral("ID")).AsVariant(), Value::integer(6));
    EXPECT_EQ(packed.FieldByName(QStringLiteral("BB")).BlobSize(), 3 * 40000);
}

TEST_F(PackedWriteBackTest, ARefusedRowIsFoundWhereverItStandsInAPacket) {
    makeDatabase(
        "create table T (ID integer not null primary key, PAI integer references T (ID),\n"
        "  Q integer check (Q >= 0), NOME varchar(20));\n"
        "create exception NOPE 'recusado pelo gatilho';\n"
        "set term ^;\n"
        "create trigger T_BI for T before insert as begin\n"
        "  if (new.NOME = 'proibido') then exception NOPE;\n"
        "end^\n"
        "set term ;^\n"
        "insert into T (ID) values (100000);\n");
    // 300 rows go as a packet of 256 and a short one of 44.
    enum Fault { Duplicate, MissingParent, Check, Trigger };
    const struct {
        int position;
        Fault fault;
        const char* says;
    } cases[] = {
        {0, Duplicate, "PRIMARY or UNIQUE KEY"},
        {127, MissingParent, "FOREIGN KEY"},
        {255, Check, "CHECK"},
        {256, Trigger, "recusado pelo gatilho"},
        {270, Duplicate, "PRIMARY or UNIQUE KEY"},
        {299, Check, "CHECK"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        con.ExecuteDirect(QStringLiteral("delete from T where ID <> 100000"));
        RecordSet rs(con);
        reopen(rs, QStringLiteral("select * from T"));
        for (int i = 0; i < 300; ++i) {
            rs.Append();
            const bool bad = i == c.position;
            rs.Fields(0).setAsVariant(Value::integer(bad && c.fault == Duplicate ? 100000 : i + 1));
            rs.Fields(1).setAsVariant(bad && c.fault == MissingParent ? Value::integer(-1)
                                                                      : Value::integer(100000));
            rs.Fields(2).setAsVariant(Value::integer(bad && c.fault == Check ? -1 : i));
            rs.Fields(3).setAsString(bad && c.fault == Trigger ? QStringLiteral("proibido")
                                                               : QStringLiteral("ok"));
            rs.Post();
        }
        ASSERT_EQ(rs.ApplyUpdates(0), 1);
        const Refusal first = *rs.lastRefusal();
        EXPECT_EQ(first.changeIndex, c.position);
        EXPECT_TRUE(first.message.contains(QString::fromLatin1(c.says)))
            << first.message.toStdString();
        EXPECT_EQ(first.firstColumn,
                  Value::integer(c.fault == Duplicate ? 100000 : c.position + 1));
        // Nothing was written and the change log is as it was, refused row included.
        EXPECT_EQ(rows(QStringLiteral("select count(*) from T")), QStringList{"1"});
        EXPECT_EQ(rs.pendingCount(), 300);
        EXPECT_EQ(rs.RecordCount(), 301);  // with the row already there

        const std::vector<Refusal> refused = writeBackDroppingRefused(rs);
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_EQ(refused[0].changeIndex, c.position);
        EXPECT_EQ(rs.pendingCount(), 0);
        EXPECT_EQ(rs.RecordCount(), 300);
        EXPECT_EQ(rows(QStringLiteral("select count(*), sum(Q) from T where ID <> 100000")),
                  QStringList{QStringLiteral("299|%1").arg(299 * 300 / 2 - c.position)});
    }
}

TEST_F(PackedWriteBackTest, ManyRefusedRowsCostOneStatementEachAndNoNewPackets) {
    // A target that already holds the first 100 of 120 rows: every retry of the drop-and-retry
    // loop would otherwise send, and have the server prepare, a packet one row shorter.
    makeDatabase(
        "create table T (ID integer not null primary key, NOME varchar(20));\n"
        "set term ^;\n"
        "execute block as declare i integer = 1; begin\n"
        "  while (i <= 100) do begin insert into T values (:i, 'antes'); i = i + 1; end\n"
        "end^\n"
        "set term ;^\n");
    RecordSet rs(con);
    reopen(rs, QStringLiteral("select * from T where 1=0"));
    const auto addRows = [&](int from, int to) {
        for (int i = from; i <= to; ++i) {
            rs.Append();
            rs.Fields(0).setAsVariant(Value::integer(i));
            rs.Fields(1).setAsString(QStringLiteral("novo"));
            rs.Post();
        }
    };
    addRows(1, 120);
    int refusals = 0, statements = 0;
    while (rs.ApplyUpdates(0) != 0) {
        statements += rs.lastWriteBackStatements();
        ASSERT_EQ(rs.lastRefusal()->changeIndex, 0);
        EXPECT_EQ(rs.lastRefusal()->firstColumn, Value::integer(refusals + 1));
        rs.dropPendingChange(0);
        ++refusals;
    }
    statements += rs.lastWriteBackStatements();
    EXPECT_EQ(refusals, 100);
    // One packet that failed, then one INSERT per refused row and per written row.
    EXPECT_EQ(statements, 1 + 100 + 20);
    EXPECT_EQ(heldStatements(con, path, QStringLiteral("execute block")), 1);
    EXPECT_EQ(rows(QStringLiteral("select count(*) from T where NOME = 'novo'")),
              QStringList{"20"});
    // A write-back without a refusal: packets again.
    addRows(121, 170);
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(rs.lastWriteBackStatements(), 1);
    EXPECT_EQ(rows(QStringLiteral("select count(*) from T")), QStringList{"170"});
}

TEST_F(PackedWriteBackTest, PacketsStopAtTheServersLimits) {
    // 256 INSERTs per block, 32,767 parameters, 10 MB of text: whichever comes first.
    EXPECT_EQ(detail::packetRows(8, 400, 0), 256);
    EXPECT_EQ(detail::packetRows(128, 8000, 0), 255);
    EXPECT_EQ(detail::packetRows(200, 12000, 0), 163);
    EXPECT_EQ(detail::packetRows(1, 100000, 0), 104);
    EXPECT_EQ(detail::packetRows(40000, 10, 0), 1);

    // A table of 200 columns: 163 rows is a full packet; 327 rows go in 163, 163 and one.
    QByteArray ddl = "create table LARGA (ID integer not null primary key";
    for (int j = 1; j < 200; ++j)
        ddl += ", COLUNA_DE_NOME_BEM_COMPRIDO_" + QByteArray::number(j) + " integer";
    makeDatabase(ddl + ");\n");
    RecordSet rs(con);
    reopen(rs, QStringLiteral("select * from LARGA"));
    for (int i = 0; i < 327; ++i) {
        rs.Append();
        for (int j = 0; j < 200; ++j) rs.Fields(j).setAsVariant(Value::integer(j == 0 ? i : i + j));
        rs.Post();
    }
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(rs.lastWriteBackStatements(), 3);
    EXPECT_EQ(
        rows(QStringLiteral("select count(*), sum(ID), sum(COLUNA_DE_NOME_BEM_COMPRIDO_199)"
                            " from LARGA")),
        QStringList{QStringLiteral("327|%1|%2").arg(326 * 327 / 2).arg(326 * 327 / 2 + 199 * 327)});

    // A narrow table: 513 rows go in 256, 256 and one.
    con.ExecuteDirect(QStringLiteral("create table ESTREITA (ID integer, T varchar(5))"));
    reopen(rs, QStringLiteral("select * from ESTREITA"));
    for (int i = 0; i < 513; ++i) {
        rs.Append();
        rs.Fields(0).setAsVariant(Value::integer(i));
        rs.Post();
    }
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(rs.lastWriteBackStatements(), 3);
    EXPECT_EQ(rows(QStringLiteral("select count(*), count(T) from ESTREITA")),
              QStringList{"513|0"});
}

TEST_F(PackedWriteBackTest, FailuresThatAreNotAboutARowAreRaised) {
    makeDatabase("create table T (ID integer not null primary key, NOME varchar(20));\n");
    // A table dropped after the record set opened.
    {
        RecordSet rs(con);
        reopen(rs, QStringLiteral("select * from T"));
        con.ExecuteDirect(QStringLiteral("drop table T"));
        for (int i = 0; i < 3; ++i) {
            rs.Append();
            rs.Fields(0).setAsVariant(Value::integer(i));
            rs.Post();
        }
        try {
            rs.ApplyUpdates(0);
            FAIL() << "a missing table counted as a refused row";
        } catch (const DatabaseError& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("Table unknown")))
                << e.message().toStdString();
        }
        EXPECT_EQ(rs.pendingCount(), 3);
        EXPECT_FALSE(rs.lastRefusal());
    }
    // A read-only database (gfix wants it to itself).
    con.ExecuteDirect(QStringLiteral("create table T (ID integer not null primary key)"));
    con.impl().detach();
    QProcess gfix;
    gfix.start(
        QStringLiteral("gfix"),
        {QStringLiteral("-mode"), QStringLiteral("read_only"), QStringLiteral("-user"),
         QStringLiteral("SYSDBA"), QStringLiteral("-password"), kPassword, kServerPrefix + path});
    ASSERT_TRUE(gfix.waitForFinished(30000));
    ASSERT_EQ(gfix.exitCode(), 0) << gfix.readAllStandardError().toStdString();
    RecordSet ro(con);
    reopen(ro, QStringLiteral("select * from T"));
    ro.Append();
    ro.Fields(0).setAsVariant(Value::integer(1));
    ro.Post();
    try {
        ro.ApplyUpdates(0);
        FAIL() << "a read-only database counted as a refused row";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("read-only"))) << e.message().toStdString();
    }
    EXPECT_EQ(ro.pendingCount(), 1);
}

TEST_F(PackedWriteBackTest, ALostConnectionMidPacketEndsTheWriteBack) {
    makeDatabase("create table T (ID integer not null primary key);\n");
    // Another attachment holds row 150 uncommitted: the packet waits on it until our
    // attachment is shut down from a third one.
    Connection holder(QStringLiteral("Con_Holder"));
    holder.Params = con.Params;
    holder.Open();
    fb::Transaction held = fb::startReadCommitted(holder.impl().att(), false);
    {
        fb::Status st;
        fb::Statement insert(holder.impl().att(), held.get(), "insert into T values (150)", 3);
        insert->execute(&st, held.get(), nullptr, nullptr, nullptr, nullptr);
    }
    RecordSet probe(con);
    reopen(probe, QStringLiteral("select current_connection from rdb$database"));
    const QString id = probe.Fields(0).AsString();
    probe.Close();

    RecordSet rs(con);
    reopen(rs, QStringLiteral("select * from T"));
    for (int i = 1; i <= 300; ++i) {
        rs.Append();
        rs.Fields(0).setAsVariant(Value::integer(i));
        rs.Post();
    }
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        Connection admin(QStringLiteral("Con_Admin"));
        admin.Params = con.Params;
        admin.ExecuteDirect(
            QStringLiteral("delete from mon$attachments where mon$attachment_id = ") + id);
    });
    try {
        rs.ApplyUpdates(0);
        ADD_FAILURE() << "the write-back outlived its connection";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.connectionLost()) << e.message().toStdString();
    }
    killer.join();
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(rs.pendingCount(), 300);
    held.rollback();
    // The record set lets its statements go and writes on the next attachment.
    rs.First();
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(rows(QStringLiteral("select count(*) from T")), QStringList{"300"});
}

class RecordSetScaleTest : public DbTest {};

TEST_F(RecordSetScaleTest, InsertAndAppendKeepTheirOrderOverALargeSet) {
    makeDatabase(
        "create table T (ID integer, NOME varchar(10));\n"
        "insert into T values (-1, 'lido');\n");
    RecordSet rs(con);
    reopen(rs, QStringLiteral("select * from T"));
    // Insert before the current row (the one just posted) again and again, as the copy steps
    // do, then append behind all of them.
    constexpr int kRows = 200000, kBlock = 20000;
    // Each block of rows costs about what the first did (a shifting vector makes the last
    // block some twenty times dearer than the first).
    std::vector<double> blockSeconds;
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < kRows; ++i) {
        rs.Insert();
        rs.Fields(0).setAsVariant(Value::integer(i));
        rs.Post();
        if ((i + 1) % kBlock == 0) {
            const auto now = std::chrono::steady_clock::now();
            blockSeconds.push_back(std::chrono::duration<double>(now - started).count());
            started = now;
        }
    }
    const double firstBlocks = std::min(blockSeconds[0], blockSeconds[1]);
    const double lastBlocks = std::min(blockSeconds[8], blockSeconds[9]);
    EXPECT_LT(lastBlocks, 4 * firstBlocks + 0.05);
    for (int i = 0; i < 10; ++i) {
        rs.Append();
        rs.Fields(0).setAsVariant(Value::integer(kRows + i));
        rs.Post();
    }
    ASSERT_EQ(rs.RecordCount(), kRows + 11);
    rs.First();
    int expected = kRows - 1;
    for (int k = 0; k < kRows; ++k, rs.Next(), --expected)
        ASSERT_EQ(rs.Fields(0).AsVariant(), Value::integer(expected)) << k;
    EXPECT_EQ(rs.Fields(0).AsVariant(), Value::integer(-1));
    EXPECT_EQ(rs.Fields(1).AsString(), QStringLiteral("lido"));
    for (int i = 0; i < 10; ++i) {
        rs.Next();
        EXPECT_EQ(rs.Fields(0).AsVariant(), Value::integer(kRows + i));
    }
    rs.Next();
    EXPECT_TRUE(rs.Eof());
    // The change log follows the posting order.
    EXPECT_EQ(rs.pendingCount(), kRows + 10);
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(rows(QStringLiteral("select count(*), sum(ID) from T")),
              QStringList{QStringLiteral("%1|%2")
                              .arg(kRows + 11)
                              .arg(static_cast<long long>(kRows + 10) * (kRows + 9) / 2 - 1)});
}

TEST_F(RecordSetScaleTest, TheChangeLogAfterARefusalAndADrop) {
    makeDatabase(
        "create table T (ID integer not null primary key, NOME varchar(10));\n"
        "insert into T values (1, 'um');\n"
        "insert into T values (2, 'dois');\n");
    RecordSet rs(con);
    reopen(rs, QStringLiteral("select * from T order by ID"));
    // An edit, three new rows (the second a duplicate) inserted before the current row, an
    // edit of a new row before it is written.
    rs.Edit();
    rs.Fields(1).setAsString(QStringLiteral("UM"));
    rs.Post();
    for (int id : {10, 2, 11}) {
        rs.Insert();
        rs.Fields(0).setAsVariant(Value::integer(id));
        rs.Post();
    }
    rs.Edit();  // the row of 11, still pending: it stays one INSERT
    rs.Fields(1).setAsString(QStringLiteral("onze"));
    rs.Post();
    ASSERT_EQ(rs.pendingCount(), 4);
    const QStringList before = {rs.pendingStatementText(0), rs.pendingStatementText(1),
                                rs.pendingStatementText(2), rs.pendingStatementText(3)};
    EXPECT_TRUE(before[3].contains(QStringLiteral("\"NOME\"")));
    ASSERT_EQ(rs.ApplyUpdates(0), 1);
    EXPECT_EQ(rs.lastRefusal()->changeIndex, 2);
    EXPECT_EQ(rs.lastRefusal()->firstColumn, Value::integer(2));
    ASSERT_EQ(rs.pendingCount(), 4);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(rs.pendingStatementText(k), before[k]);
    EXPECT_EQ(rows(QStringLiteral("select * from T order by ID")), (QStringList{"1|um", "2|dois"}));

    rs.dropPendingChange(2);
    EXPECT_EQ(rs.pendingCount(), 3);
    EXPECT_EQ(rs.RecordCount(), 4);
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(rows(QStringLiteral("select * from T order by ID")),
              (QStringList{"1|UM", "2|dois", "10|<null>", "11|onze"}));
    // Order: 11 and 10 went before row 1, which was current when they were inserted.
    QStringList order;
    for (rs.First(); !rs.Eof(); rs.Next()) order << rs.Fields(0).AsString();
    EXPECT_EQ(order, (QStringList{"11", "10", "1", "2"}));
}

TEST_F(RecordSetScaleTest, StatementsArePreparedOnceAcrossWriteBacks) {
    makeDatabase("create table T (ID integer not null primary key);\n");
    RecordSet rs(con);
    reopen(rs, QStringLiteral("select * from T"));
    const auto prepared = [&] { return heldStatements(con, path, QStringLiteral("insert into")); };
    const auto writeRows = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            rs.Append();
            rs.Fields(0).setAsVariant(Value::integer(i));
            rs.Post();
            ASSERT_EQ(rs.ApplyUpdates(0), 0);
        }
    };
    writeRows(0, 20);
    // One INSERT prepared for twenty write-backs.
    EXPECT_EQ(prepared(), 1);

    // Emptied, the record set drops its rows and pending changes but keeps its fields and
    // that statement.
    rs.Append();
    rs.Fields(0).setAsVariant(Value::integer(-1));
    rs.Post();
    rs.emptyDataSet();
    EXPECT_TRUE(rs.active());
    EXPECT_TRUE(rs.Eof());
    EXPECT_EQ(rs.RecordCount(), 0);
    EXPECT_EQ(rs.pendingCount(), 0);
    EXPECT_EQ(prepared(), 1);
    writeRows(20, 30);
    EXPECT_EQ(prepared(), 1);
    EXPECT_EQ(rs.RecordCount(), 10);
    EXPECT_EQ(rows(QStringLiteral("select count(*), min(ID), max(ID) from T")),
              QStringList{"30|0|29"});

    // Let go on Close.
    rs.Close();
    EXPECT_EQ(prepared(), 0);
    EXPECT_THROW(rs.emptyDataSet(), AppError);
}

}  // namespace
}  // namespace patrimonio::test
