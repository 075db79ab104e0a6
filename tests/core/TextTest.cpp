#include <gtest/gtest.h>

#include "core/Text.h"

namespace patrimonio {

TEST(Text, Win1252RoundTripsEveryByte) {
    QByteArray all;
    for (int b = 0; b < 256; ++b) all.append(static_cast<char>(b));
    EXPECT_EQ(toWin1252(fromWin1252(all)), all);
}

TEST(Text, Win1252EncodesPortugueseAndEuro) {
    EXPECT_EQ(toWin1252(QStringLiteral("CONTIGÊNCIA")), QByteArray("CONTIG\xCANCIA"));
    EXPECT_EQ(fromWin1252(QByteArray("\x80")), QStringLiteral("€"));
    EXPECT_EQ(toWin1252(QStringLiteral("日")), QByteArray("?"));
}

TEST(Text, TrimRemovesBlanksAndControls) {
    EXPECT_EQ(trimmed(QStringLiteral(" \t\r\n 12 \x01")), QStringLiteral("12"));
    EXPECT_EQ(trimmed(QStringLiteral("   ")), QString());
}

TEST(Text, NamesAndExtensions) {
    struct Case { const char* path; const char* name; const char* ext; };
    const Case cases[] = {
        {"C:\\dados\\base.fdb", "base.fdb", ".fdb"},
        {"/dados/patrimônio.fdb", "patrimônio.fdb", ".fdb"},
        {"FOTO001", "FOTO001", ""},
        {"dir.x/FOTO001", "FOTO001", ""},
        {"foto.", "foto.", "."},
        {"foto. ", "foto. ", ". "},
        {"12__foto.JPG", "12__foto.JPG", ".JPG"},
    };
    for (const auto& c : cases) {
        const QString path = QString::fromUtf8(c.path);
        EXPECT_EQ(fileNameOf(path), QString::fromUtf8(c.name)) << c.path;
        EXPECT_EQ(extensionOf(path), QString::fromUtf8(c.ext)) << c.path;
    }
}

TEST(Text, WholeNumbers) {
    for (const char* yes : {"17", " 17 ", "-3", "+4", "0"}) EXPECT_TRUE(isWholeNumber(yes)) << yes;
    for (const char* no : {"", " ", "1 7", "17;", "1e3", "x", "-"}) EXPECT_FALSE(isWholeNumber(no)) << no;
}

TEST(Text, QuotedSqlDoublesQuotes) {
    EXPECT_EQ(quotedSql(QStringLiteral("D'Ávila")), QStringLiteral("'D''Ávila'"));
}

}  // namespace patrimonio
