// A page's BLOBs read by their ids on another thread, and given back to their rows.

#include <thread>

#include "DbFixture.h"
#include "db/PageBlobs.h"
#include "db/RecordSet.h"
#include "db/RowCursor.h"

namespace patrimonio::test {
namespace {

class PageBlobsTest : public DbTest {
protected:
    void SetUp() override {
        makeDatabase(
            "CREATE TABLE T (N INTEGER NOT NULL PRIMARY KEY, B BLOB SUB_TYPE BINARY, "
            "X BLOB SUB_TYPE TEXT);\n"
            "INSERT INTO T VALUES (1, 'b1', 'x1');\n"
            "INSERT INTO T VALUES (2, NULL, 'x2');\n"
            "INSERT INTO T VALUES (3, 'b3', NULL);\n");
    }
};

TEST_F(PageBlobsTest, ReadsEachRowsBlobAsThePageSawItFromAnotherThread) {
    RowCursor cursor(con, QStringLiteral("SELECT * FROM T ORDER BY N"));
    RecordSet page(con);
    page.openPage(cursor, 10);
    page.First();
    const PageBlobs blobs = PageBlobs::of(page, 1);
    ASSERT_TRUE(blobs.any());
    ASSERT_EQ(blobs.rowCount(), 3);
    EXPECT_EQ(blobs.type(), FieldType::BinaryBlob);
    EXPECT_TRUE(blobs.isNull(1));
    // Another program changes and deletes rows once the page is read: the page's snapshot holds.
    runIsql("UPDATE T SET B = 'changed' WHERE N = 1; DELETE FROM T WHERE N = 3;\ncommit;\n", path);
    std::vector<QByteArray> read;
    std::thread reader([&] {
        for (int row = 0; row < blobs.rowCount(); ++row) read.push_back(blobs.read(row));
    });
    reader.join();
    EXPECT_EQ(read, (std::vector<QByteArray>{"b1", {}, "b3"}));
    // No page of an open cursor: nothing to read ahead.
    RecordSet plain(con);
    plain.setCommandText(QStringLiteral("SELECT * FROM T"));
    plain.Open();
    EXPECT_FALSE(PageBlobs::of(plain, 1).any());
}

TEST_F(PageBlobsTest, ABlobGivenToItsRowIsKeptAndItsOtherBlobsAreReadAsEver) {
    RowCursor cursor(con, QStringLiteral("SELECT * FROM T ORDER BY N"));
    RecordSet page(con);
    page.openPage(cursor, 10);
    page.First();
    // A value the database does not hold shows that the given one is not read again.
    page.giveBlob(1, Value::binary("given"));
    EXPECT_EQ(page.Fields(2).AsVariant().bytes(), "x1");
    EXPECT_EQ(page.Fields(1).AsVariant().bytes(), "given");
    page.Next();
    EXPECT_TRUE(page.Fields(1).isNull());
    EXPECT_EQ(page.Fields(2).AsVariant().bytes(), "x2");
}

}  // namespace
}  // namespace patrimonio::test
