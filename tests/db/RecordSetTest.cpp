// Opening, walking, editing and posting, BLOBs fetched on first use.

#include <QBuffer>
#include <QFile>

#include "DbFixture.h"
#include "core/Errors.h"

namespace patrimonio::test {
namespace {

class RecordSetTest : public DbTest {
protected:
    void SetUp() override {
        makeDatabase(
            "create table ITEM (ID integer not null primary key, NOME varchar(30) not null,\n"
            "  QTD integer, DOBRO computed by (QTD * 2), FOTO blob sub_type 0,\n"
            "  NOTA blob sub_type 1);\n"
            "insert into ITEM (ID, NOME, QTD) values (1, 'um', 10);\n"
            "insert into ITEM (ID, NOME, QTD) values (2, 'dois', null);\n"
            "insert into ITEM (ID, NOME, QTD) values (3, 'tres', 30);\n");
    }
    void open(RecordSet& rs,
              const QString& sql = QStringLiteral("SELECT * FROM ITEM ORDER BY ID")) {
        rs.setCommandText(sql);
        rs.Open();
    }
    RecordSet rs{con};
};

TEST_F(RecordSetTest, FieldsFollowTheTable) {
    open(rs);
    ASSERT_EQ(rs.fieldCount(), 6);
    const char* names[] = {"ID", "NOME", "QTD", "DOBRO", "FOTO", "NOTA"};
    const FieldType types[] = {FieldType::Integer, FieldType::VarChar,    FieldType::Integer,
                               FieldType::BigInt,  FieldType::BinaryBlob, FieldType::TextBlob};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(rs.Fields(i).FieldName(), QString::fromLatin1(names[i]));
        EXPECT_EQ(rs.Fields(i).dataType(), types[i]);
        EXPECT_EQ(rs.Fields(i).required(), i < 2);
        EXPECT_EQ(rs.Fields(i).readOnly(), i == 3);
    }
    EXPECT_EQ(rs.Fields(1).size(), 30);
    EXPECT_EQ(&rs.FieldByName(QStringLiteral("nome")), &rs.Fields(1));
    EXPECT_EQ(rs.findField(QStringLiteral("NADA")), nullptr);
    EXPECT_THROW(rs.FieldByName(QStringLiteral("NADA")), AppError);
    EXPECT_THROW(rs.Fields(6), AppError);
}

TEST_F(RecordSetTest, WalkingAndEof) {
    open(rs, QStringLiteral("select * from ITEM where ID < 0"));
    EXPECT_EQ(rs.RecordCount(), 0);
    EXPECT_TRUE(rs.Eof());
    EXPECT_TRUE(rs.Fields(0).isNull());
    rs.Close();

    open(rs);
    EXPECT_EQ(rs.RecordCount(), 3);
    EXPECT_FALSE(rs.Eof());
    QStringList seen;
    for (; !rs.Eof(); rs.Next()) seen << rs.FieldByName(QStringLiteral("NOME")).AsString();
    EXPECT_EQ(seen, (QStringList{"um", "dois", "tres"}));
    EXPECT_EQ(rs.Fields(0).AsString(), QStringLiteral("3"));  // the last row stays current
    rs.Next();
    EXPECT_TRUE(rs.Eof());
    rs.First();
    EXPECT_FALSE(rs.Eof());
    EXPECT_EQ(rs.Fields(0).AsString(), QStringLiteral("1"));
    rs.Next();
    EXPECT_TRUE(rs.Fields(2).isNull());
    EXPECT_EQ(rs.Fields(2).AsString(), QString());
    EXPECT_EQ(rs.Fields(3).AsString(), QString());  // computed from NULL

    rs.Close();
    EXPECT_FALSE(rs.active());
    EXPECT_THROW(rs.Next(), AppError);
}

TEST_F(RecordSetTest, OpenFailureLeavesItClosed) {
    open(rs);
    rs.setCommandText(QStringLiteral("select * from NO_SUCH_TABLE"));
    EXPECT_THROW(rs.Open(), DatabaseError);
    EXPECT_FALSE(rs.active());
    EXPECT_EQ(rs.fieldCount(), 0);
}

TEST_F(RecordSetTest, PostChecksRequiredFieldsButNotReadOnlyOnes) {
    open(rs);
    rs.Append();
    rs.FieldByName(QStringLiteral("ID")).setAsVariant(Value::integer(4));
    try {
        rs.Post();
        FAIL() << "posted without NOME";
    } catch (const AppError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Field 'NOME' must have a value"));
    }
    EXPECT_EQ(rs.state(), RecordSet::State::Inserting);
    EXPECT_EQ(rs.pendingCount(), 0);
    // The implicit post of Next fails the same way, and Next does not happen.
    EXPECT_THROW(rs.Next(), AppError);
    rs.FieldByName(QStringLiteral("NOME")).setAsString(QStringLiteral("quatro"));
    rs.Post();
    EXPECT_EQ(rs.state(), RecordSet::State::Browsing);
    EXPECT_EQ(rs.pendingCount(), 1);
    EXPECT_EQ(rs.RecordCount(), 4);
    EXPECT_EQ(rs.Fields(0).AsString(), QStringLiteral("4"));
}

TEST_F(RecordSetTest, ImplicitPostAndDroppedEmptyRows) {
    open(rs);
    rs.Append();  // nothing assigned: dropped by the next Append
    rs.Append();
    rs.Fields(0).setAsVariant(Value::integer(5));
    rs.Fields(1).setAsString(QStringLiteral("cinco"));
    rs.Append();  // posts row 5
    rs.Fields(0).setAsVariant(Value::integer(6));
    rs.Fields(1).setAsString(QStringLiteral("seis"));
    rs.First();  // posts row 6
    EXPECT_EQ(rs.pendingCount(), 2);
    EXPECT_EQ(rs.RecordCount(), 5);
    rs.Edit();  // nothing changed: no change posted
    rs.Next();
    EXPECT_EQ(rs.pendingCount(), 2);
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(rows(QStringLiteral("select ID, NOME from ITEM where ID > 3 order by ID")),
              (QStringList{"5|cinco", "6|seis"}));
}

TEST_F(RecordSetTest, InsertGoesBeforeTheCurrentRowAndCancelDrops) {
    open(rs);
    rs.Next();
    rs.Insert();
    rs.Fields(0).setAsVariant(Value::integer(9));
    rs.Fields(1).setAsString(QStringLiteral("nove"));
    rs.Post();
    QStringList ids;
    for (rs.First(); !rs.Eof(); rs.Next()) ids << rs.Fields(0).AsString();
    EXPECT_EQ(ids, (QStringList{"1", "9", "2", "3"}));

    rs.Append();
    rs.Fields(0).setAsVariant(Value::integer(10));
    rs.cancel();
    EXPECT_EQ(rs.RecordCount(), 4);
    EXPECT_EQ(rs.pendingCount(), 1);

    RecordSet none(con);
    open(none, QStringLiteral("select * from ITEM where ID < 0"));
    none.Append();
    EXPECT_FALSE(none.Eof());
    none.cancel();
    EXPECT_TRUE(none.Eof());
    none.Edit();  // nothing to edit: a new row
    EXPECT_EQ(none.state(), RecordSet::State::Inserting);
    EXPECT_THROW(rs.Fields(0).setAsVariant(Value::integer(1)), AppError);  // browsing
}

TEST_F(RecordSetTest, EditWritesAnUpdateAndKeepsTheNewValues) {
    open(rs);
    rs.Next();
    rs.Edit();
    rs.FieldByName(QStringLiteral("QTD")).setAsString(QStringLiteral("22"));
    rs.Post();
    EXPECT_EQ(rs.FieldByName(QStringLiteral("QTD")).AsString(), QStringLiteral("22"));
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(rs.pendingCount(), 0);
    // A second edit of the same row finds it by its new values.
    rs.Edit();
    rs.FieldByName(QStringLiteral("NOME")).setAsString(QStringLiteral("DOIS"));
    EXPECT_EQ(rs.ApplyUpdates(0), 0);
    EXPECT_EQ(rows(QStringLiteral("select ID, NOME, QTD, DOBRO from ITEM order by ID")),
              (QStringList{"1|um|10|20", "2|DOIS|22|44", "3|tres|30|60"}));
}

TEST_F(RecordSetTest, BlobsAreFetchedOnFirstUseAndFollowTheNullRules) {
    const QByteArray photo(100000, '\xAB');
    // Row 1 a photo, row 2 a BLOB of zero bytes, row 3 NULL.
    open(rs);
    rs.Edit();
    QBuffer in;
    in.setData(photo);
    in.open(QIODevice::ReadOnly);
    in.seek(in.size());  // at its end: the whole content is still taken
    rs.FieldByName(QStringLiteral("FOTO")).LoadFromStream(in);
    rs.FieldByName(QStringLiteral("NOTA")).setAsString(QStringLiteral("observação"));
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
    con.ExecuteDirect(QStringLiteral("update ITEM set FOTO = '' where ID = 2"));

    RecordSet again(con);
    open(again);
    Field& foto = again.FieldByName(QStringLiteral("FOTO"));
    Field& nota = again.FieldByName(QStringLiteral("NOTA"));
    EXPECT_EQ(foto.BlobSize(), photo.size());
    EXPECT_EQ(foto.AsVariant().bytes(), photo);
    EXPECT_EQ(nota.AsString(), QStringLiteral("observação"));
    const QString file = folder.path(QStringLiteral("foto.jpg"));
    foto.SaveToFile(file);
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), photo);
    saved.close();

    again.Next();  // zero bytes: NULL for a binary BLOB, empty text for a NULL text BLOB
    EXPECT_EQ(foto.BlobSize(), 0);
    EXPECT_TRUE(foto.AsVariant().isNull());
    EXPECT_EQ(nota.AsVariant(), Value::text({}));
    again.Next();
    EXPECT_TRUE(foto.isNull());
    foto.SaveToFile(file);  // NULL: an empty file
    EXPECT_EQ(QFile(file).size(), 0);

    // Copied by value, the zero-byte BLOB arrives as NULL.
    con.ExecuteDirect(QStringLiteral("insert into ITEM (ID, NOME) values (4, 'copia')"));
    RecordSet target(con);
    open(target, QStringLiteral("select * from ITEM where ID = 4"));
    again.First();
    again.Next();
    target.Edit();
    target.FieldByName(QStringLiteral("FOTO")).setAsVariant(Value::binary({}));
    target.FieldByName(QStringLiteral("NOTA")).setAsVariant(Value::text({}));
    target.FieldByName(QStringLiteral("QTD")).setAsVariant(Value::integer(1));
    EXPECT_EQ(target.ApplyUpdates(0), 0);
    EXPECT_EQ(rows(QStringLiteral("select FOTO is null, NOTA is null from ITEM where ID in (2, 4) "
                                  "order by ID")),
              (QStringList{"FALSE|TRUE", "TRUE|TRUE"}));
}

// A photo read on one row is not kept once the record set moves on: coming back reads the
// database again.
TEST_F(RecordSetTest, BlobsAreLetGoWhenTheRowIsLeft) {
    con.ExecuteDirect(QStringLiteral("update ITEM set FOTO = 'antes' where ID = 1"));
    open(rs);
    Field& foto = rs.FieldByName(QStringLiteral("FOTO"));
    EXPECT_EQ(foto.AsVariant().bytes(), QByteArray("antes"));
    con.ExecuteDirect(QStringLiteral("update ITEM set FOTO = 'depois' where ID = 1"));
    EXPECT_EQ(foto.AsVariant().bytes(), QByteArray("antes"));  // same row: read once
    rs.Next();
    rs.First();
    EXPECT_EQ(foto.AsVariant().bytes(), QByteArray("depois"));
}

TEST_F(RecordSetTest, ABlobOfAVanishedRowCannotBeRead) {
    open(rs);
    EXPECT_EQ(rs.Fields(1).AsString(), QStringLiteral("um"));
    con.ExecuteDirect(QStringLiteral("update ITEM set NOME = 'mudou' where ID = 1"));
    try {
        rs.FieldByName(QStringLiteral("FOTO")).BlobSize();
        FAIL() << "read the BLOB of a changed row";
    } catch (const AppError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Record not found or changed by another user"));
    }
    rs.Next();
    EXPECT_EQ(rs.FieldByName(QStringLiteral("FOTO")).BlobSize(), 0);
}

TEST_F(RecordSetTest, AssignmentThatCannotBeConvertedNamesTheFieldAndKeepsTheValue) {
    open(rs);
    rs.Edit();
    rs.FieldByName(QStringLiteral("QTD")).setAsVariant(Value::integer(7));
    try {
        rs.FieldByName(QStringLiteral("QTD")).setAsString(QStringLiteral("sete"));
        FAIL() << "text that is no number was taken";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("'QTD'"))) << e.what();
    }
    EXPECT_EQ(rs.FieldByName(QStringLiteral("QTD")).AsString(), QStringLiteral("7"));
    EXPECT_THROW(rs.FieldByName(QStringLiteral("NOME")).setAsString(QString(31, u'x')), AppError);
}

}  // namespace
}  // namespace patrimonio::test
