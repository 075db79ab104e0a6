// The rows of a query read from one cursor (db/RowCursor.h), ahead on a thread of their own or
// not, and record sets that take turns at writing one table, handing each other their prepared
// statements.

#include <QStringList>
#include <optional>

#include "DbFixture.h"
#include "core/Errors.h"
#include "db/RowCursor.h"

namespace patrimonio::test {
namespace {

class RowReadAheadTest : public DbTest {
protected:
    void SetUp() override {
        makeDatabase(
            "CREATE TABLE T (N INTEGER NOT NULL PRIMARY KEY, S VARCHAR(10), "
            "B BLOB SUB_TYPE BINARY, X BLOB SUB_TYPE TEXT);\n"
            "SET TERM ^ ;\n"
            "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 10) DO BEGIN\n"
            "  INSERT INTO T VALUES (:I, 'r' || :I, IIF(:I = 2, '', 'b' || :I),\n"
            "    IIF(:I = 3, NULL, 'x' || :I)); I = I + 1; END END^\n"
            "SET TERM ; ^\n");
    }

    // Every row as text, the fields joined by '|'.
    static QStringList readAll(RowCursor& rows) {
        QStringList out;
        while (rows.next()) {
            QStringList fields;
            for (int i = 0; i < rows.fieldCount(); ++i) {
                const Value v = rows.value(i);
                fields << (v.isNull() ? QStringLiteral("<null>") : v.toString());
            }
            out << fields.join(u'|');
        }
        return out;
    }
};

TEST_F(RowReadAheadTest, GivesEveryRowInOrderAcrossBlocksAsARecordSetReadsThem) {
    // Blocks of 3 rows, at most 2 ahead: the reader waits for the consumer several times.
    RowCursor rows(con, QStringLiteral("SELECT * FROM T ORDER BY N"), RowCursor::ReadAhead{3, 2});
    EXPECT_EQ(rows.rowCount(), 10);
    ASSERT_EQ(rows.fieldCount(), 4);
    EXPECT_EQ(rows.fieldName(0), "N");
    EXPECT_EQ(rows.fieldType(3), FieldType::TextBlob);

    RecordSet set(con);
    set.setCommandText(QStringLiteral("SELECT * FROM T ORDER BY N"));
    set.Open();
    QStringList expected;
    for (; !set.Eof(); set.Next()) {
        QStringList fields;
        for (int i = 0; i < set.fieldCount(); ++i) {
            const Value v = set.Fields(i).AsVariant();
            fields << (v.isNull() ? QStringLiteral("<null>") : v.toString());
        }
        expected << fields.join(u'|');
    }
    const QStringList got = readAll(rows);
    EXPECT_EQ(got, expected);
    // A zero-byte binary BLOB reads as NULL, a NULL text BLOB as empty text.
    ASSERT_EQ(got.size(), 10);
    EXPECT_EQ(got[1], "2|r2|<null>|x2");
    EXPECT_EQ(got[2], "3|r3|b3|");
    EXPECT_FALSE(rows.next());
    EXPECT_TRUE(rows.atEnd());

    // Read on the caller's thread the cursor gives the same rows, uncounted.
    RowCursor here(con, QStringLiteral("SELECT * FROM T ORDER BY N"));
    EXPECT_EQ(here.rowCount(), -1);
    EXPECT_EQ(readAll(here), expected);

    // And a record set takes the same rows page by page, read ahead or not.
    for (const bool ahead : {false, true}) {
        SCOPED_TRACE(ahead ? "read ahead" : "read here");
        const QString sql = QStringLiteral("SELECT * FROM T ORDER BY N");
        std::optional<RowCursor> cursor;
        if (ahead) {
            cursor.emplace(con, sql, RowCursor::ReadAhead{3, 1});
        } else {
            cursor.emplace(con, sql);
        }
        QStringList paged;
        QList<int> pageSizes;
        for (;;) {
            RecordSet page(con);
            page.openPage(*cursor, 4);
            if (page.RecordCount() == 0) break;
            pageSizes << page.RecordCount();
            for (page.First(); !page.Eof(); page.Next()) {
                QStringList fields;
                for (int i = 0; i < page.fieldCount(); ++i) {
                    const Value v = page.Fields(i).AsVariant();
                    fields << (v.isNull() ? QStringLiteral("<null>") : v.toString());
                }
                paged << fields.join(u'|');
            }
        }
        EXPECT_EQ(paged, expected);
        EXPECT_EQ(pageSizes, (QList<int>{4, 4, 2}));
    }
}

TEST_F(RowReadAheadTest, CountAndRowsAreThoseOfOneMoment) {
    RowCursor rows(con, QStringLiteral("SELECT N FROM T"), RowCursor::ReadAhead{2, 1});
    // Committed by another attachment while the rows are read: neither counted nor read.
    runIsql("INSERT INTO T (N) VALUES (11);\nDELETE FROM T WHERE N = 5;\ncommit;\n", path);
    EXPECT_EQ(rows.rowCount(), 10);
    QStringList got = readAll(rows);
    got.sort();
    EXPECT_EQ(got.size(), 10);
    EXPECT_TRUE(got.contains("5"));
    EXPECT_FALSE(got.contains("11"));
}

TEST_F(RowReadAheadTest, AQueryThatFailsAtItsFirstRowsRaisesAtOnce) {
    runIsql("ALTER TABLE T ADD BOOM COMPUTED BY (1 / 0);\ncommit;\n", path);
    EXPECT_THROW(RowCursor(con, QStringLiteral("SELECT N, BOOM FROM T"), RowCursor::ReadAhead{}),
                 DatabaseError);
    EXPECT_THROW(
        RowCursor(con, QStringLiteral("SELECT * FROM NO_SUCH_TABLE"), RowCursor::ReadAhead{}),
        DatabaseError);
    // The connection is still there for what comes next.
    RowCursor rows(con, QStringLiteral("SELECT N FROM T"), RowCursor::ReadAhead{});
    EXPECT_EQ(rows.rowCount(), 10);
}

TEST_F(RowReadAheadTest, LeftBeforeItsEndItStopsAndTheConnectionGoesOn) {
    {
        RowCursor rows(con, QStringLiteral("SELECT * FROM T"), RowCursor::ReadAhead{1, 1});
        ASSERT_TRUE(rows.next());
    }
    EXPECT_EQ(con.ExecuteDirect(QStringLiteral("UPDATE T SET S = 'z' WHERE N = 1")), 1);
}

TEST_F(RowReadAheadTest, TwoRecordSetsTakingTurnsWriteEveryRow) {
    RecordSet first(con), second(con);
    reopen(first, QStringLiteral("SELECT * FROM T"));
    reopen(second, QStringLiteral("SELECT * FROM T WHERE 1 = 0"));
    int next = 100;
    for (int round = 0; round < 4; ++round) {
        RecordSet& writing = round % 2 ? second : first;
        RecordSet& idle = round % 2 ? first : second;
        writing.takeStatementsFrom(idle);
        for (int k = 0; k < 300; ++k) {
            writing.Append();
            writing.Fields(0).setAsVariant(Value::integer(next++));
            writing.Post();
        }
        ASSERT_EQ(writing.ApplyUpdates(0), 0);
        writing.emptyDataSet();
    }
    EXPECT_EQ(rows(QStringLiteral("SELECT COUNT(*), MIN(N), MAX(N) FROM T WHERE N >= 100")),
              QStringList{"1200|100|1299"});

    Connection other(QStringLiteral("Con_Outro"));
    other.Params = con.Params;
    RecordSet elsewhere(other);
    EXPECT_THROW(first.takeStatementsFrom(elsewhere), AppError);
}

}  // namespace
}  // namespace patrimonio::test
