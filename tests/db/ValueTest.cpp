// Every column type read and written back without loss, and conversions on assignment.

#include "DbFixture.h"
#include "core/Errors.h"

namespace patrimonio::test {
namespace {

TEST(Value, TextOfEachKind) {
    const struct {
        Value value;
        const char* text;
    } cases[] = {
        {Value(), ""},
        {Value::integer(17), "17"},
        {Value::integer(-1250, -2), "-12.50"},
        {Value::integer(5, -3), "0.005"},
        {Value::integer(-5, -3), "-0.005"},
        {Value::integer(INT64_MIN, -4), "-922337203685477.5808"},
        {Value::floating(1.5), "1.5"},
        {Value::floating(0.1), "0.1"},
        {Value::floating32(0.1f), "0.1"},
        {Value::floating(0.1f), "0.10000000149011612"},
        {Value::date(0), "1858-11-17"},
        {Value::date(60676), "2025-01-01"},
        {Value::time(45296 * 10000 + 789), "12:34:56.0789"},
        {Value::timestamp(60734, 0), "2025-02-28 00:00:00.0000"},
        {Value::text("abc "), "abc "},
        {Value::boolean(true), "True"},
        {Value::boolean(false), "False"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.value.toBytes(), QByteArray(c.text)) << c.text;
    EXPECT_EQ(Value::fromString(QStringLiteral("CONTIGÊNCIA")).bytes(),
              QByteArray("CONTIG\xCANCIA"));
    EXPECT_EQ(Value::text("CONTIG\xCANCIA").toString(), QStringLiteral("CONTIGÊNCIA"));
    EXPECT_EQ(Value::integer(150, -2), Value::integer(15, -1));
    EXPECT_FALSE(Value::integer(1) == Value::floating(1));
}

class ValueRoundTrip : public DbTest {
protected:
    static constexpr const char* kColumns =
        "(ID integer not null, SI smallint, IT integer, BI bigint, N42 numeric(4,2),\n"
        " N92 numeric(9,2), N152 numeric(15,2), N184 numeric(18,4), D183 decimal(18,3),\n"
        " FL float, DP double precision, DT date, TM time, TS timestamp,\n"
        " CH char(5) character set WIN1252, VC varchar(20) character set WIN1252,\n"
        " VU varchar(10) character set UTF8, BT blob sub_type 1 character set WIN1252,\n"
        " BB blob sub_type 0, BO boolean)";
    void SetUp() override {
        makeDatabase(
            QByteArray("create table SRC ") + kColumns + ";\ncreate table DST " + kColumns +
            ";\n"
            "insert into SRC values (1, -32768, -2147483648, (-9223372036854775807 - 1),\n"
            " -99.99, 9999999.99, -9999999999999.99, 99999999999999.9999,\n"
            " -123456789012345.678, 3.4e38, -1.2345678901234567e300, '0001-01-01',\n"
            " '23:59:59.9999', '9999-12-31 23:59:59.9999', 'a' || ascii_char(231) || ' ',\n"
            " 'S' || ascii_char(227) || 'o Jo' || ascii_char(227) || 'o ' || "
            "ascii_char(128) || ' ', _UTF8 'ação', 'linha1' || ascii_char(10) || "
            "ascii_char(233), x'00FF10', true);\n"
            "insert into SRC values (2, 32767, 2147483647, 9223372036854775807, 0.01,\n"
            " -0.01, 0.05, -0.0001, 0.001, -1.17549435e-38, 0.1, '2025-02-28',\n"
            " '00:00:00', '1858-11-17 00:00:00', '', '', '', '', x'', false);\n"
            "insert into SRC (ID) values (3);\n");
    }
};

// Copying every field by position into a table of the same columns gives identical rows.
TEST_F(ValueRoundTrip, CopyByPositionArrivesIdentical) {
    RecordSet src(con), dst(con);
    src.setCommandText(QStringLiteral("select * from SRC order by ID"));
    src.Open();
    dst.setCommandText(QStringLiteral("select * from DST"));
    dst.Open();
    for (; !src.Eof(); src.Next()) {
        dst.Append();
        for (int i = 0; i < src.fieldCount(); ++i)
            dst.Fields(i).setAsVariant(src.Fields(i).AsVariant());
        dst.Post();
    }
    ASSERT_EQ(dst.ApplyUpdates(0), 0);
    const QString all = QStringLiteral(
        "select ID, SI, IT, BI, N42, N92, N152, N184, D183, FL, DP, DT, TM, TS,"
        " CH, octet_length(CH), VC, octet_length(VC), cast(VU as varchar(40) character set octets),"
        " BT, BB is null, octet_length(BB), BO from %1 order by ID");
    const QStringList expected = rows(all.arg(QStringLiteral("SRC")));
    ASSERT_EQ(expected.size(), 3);
    const QStringList got = rows(all.arg(QStringLiteral("DST")));
    ASSERT_EQ(got.size(), 3);
    // Row 2's empty text BLOB and zero-byte BLOB arrive as NULL, as any empty BLOB copied
    // by value.
    EXPECT_EQ(got[0].toStdString(), expected[0].toStdString());
    EXPECT_EQ(got[2].toStdString(), expected[2].toStdString());
    QString row2 = expected[1];
    row2.replace(QStringLiteral("||FALSE|0|FALSE"), QStringLiteral("|<null>|TRUE|<null>|FALSE"));
    EXPECT_EQ(got[1].toStdString(), row2.toStdString());
    // The exact values read, through the record set.
    src.First();
    EXPECT_EQ(src.FieldByName(QStringLiteral("N184")).AsString(),
              QStringLiteral("99999999999999.9999"));
    EXPECT_EQ(src.FieldByName(QStringLiteral("BI")).AsString(),
              QStringLiteral("-9223372036854775808"));
    EXPECT_EQ(src.FieldByName(QStringLiteral("TS")).AsString(),
              QStringLiteral("9999-12-31 23:59:59.9999"));
    EXPECT_EQ(src.FieldByName(QStringLiteral("CH")).AsVariant().bytes(), QByteArray("a\xE7   "));
    EXPECT_EQ(src.FieldByName(QStringLiteral("VU")).AsVariant().bytes(),
              QByteArray("a\xC3\xA7\xC3\xA3o"));
    EXPECT_EQ(src.FieldByName(QStringLiteral("BO")).AsVariant(), Value::boolean(true));
}

// Assigning a value of another kind converts it to the field's type when that is exact.
TEST_F(ValueRoundTrip, ConversionsOnAssignment) {
    RecordSet dst(con);
    dst.setCommandText(QStringLiteral("select * from DST"));
    dst.Open();
    const struct {
        const char* field;
        Value in;
        const char* stored;  // nullptr: the assignment is refused
    } cases[] = {
        {"IT", Value::integer(1700, -2), "17"},
        {"IT", Value::integer(1750, -2), nullptr},
        {"IT", Value::text(" 42 "), "42"},
        {"IT", Value::text("4x"), nullptr},
        {"SI", Value::integer(40000), nullptr},
        {"IT", Value::floating(3.0), "3"},
        {"N92", Value::integer(17), "17.00"},
        {"N92", Value::text("-3,5"), "-3.50"},
        {"N92", Value::text("1.234"), nullptr},
        {"N92", Value::floating(0.1), "0.10"},
        {"N42", Value::integer(400), nullptr},  // beyond the SMALLINT that holds it
        {"BI", Value::boolean(true), "1"},
        {"DP", Value::integer(125, -2), "1.25"},
        {"FL", Value::text("0.3"), "0.3"},
        {"DP", Value::text("abc"), nullptr},
        {"DT", Value::text("28/02/2025"), "2025-02-28"},
        {"DT", Value::text("2025-02-30"), nullptr},
        {"DT", Value::timestamp(60734, 1234), "2025-02-28"},
        {"TS", Value::date(60734), "2025-02-28 00:00:00.0000"},
        {"TS", Value::text("2025-02-28 13:45"), "2025-02-28 13:45:00.0000"},
        {"TM", Value::text("13:45:10.5"), "13:45:10.5000"},
        {"TM", Value::integer(5), nullptr},
        {"VC", Value::integer(-125, -1), "-12.5"},
        {"CH", Value::text("abcde   "), "abcde"},
        {"CH", Value::text("abcdef"), nullptr},
        {"BO", Value::text("true"), "True"},
        {"BO", Value::text("sim"), nullptr},
        {"BB", Value::integer(1), nullptr},
        {"BT", Value::integer(12), "12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " <- " + c.in.toBytes().toStdString());
        dst.Append();
        Field& f = dst.FieldByName(QString::fromLatin1(c.field));
        if (c.stored) {
            f.setAsVariant(c.in);
            EXPECT_EQ(f.AsVariant().toBytes(), QByteArray(c.stored));
        } else {
            try {
                f.setAsVariant(c.in);
                ADD_FAILURE() << "assignment taken: " << f.AsVariant().toBytes().toStdString();
            } catch (const AppError& e) {
                EXPECT_TRUE(e.message().contains(QString::fromLatin1(c.field))) << e.what();
            }
            EXPECT_TRUE(f.isNull());
        }
        dst.cancel();
    }
}

}  // namespace
}  // namespace patrimonio::test
