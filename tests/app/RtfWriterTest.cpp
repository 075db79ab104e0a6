// The RTF writer on its own: the markup it produces, and that a real RTF reader gets the text
// back, accents and RTF's own special characters included.

#include <gtest/gtest.h>

#include <QFile>

#include "RtfUnrtf.h"
#include "TestDatabase.h"
#include "app/RtfWriter.h"

namespace patrimonio::test {

TEST(RtfWriter, HeaderFontTableAndSize) {
    const QByteArray rtf = rtfDocument(QStringLiteral("12"), QStringLiteral("Tahoma"), 11);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252"));
    EXPECT_TRUE(rtf.contains("{\\fonttbl{\\f0\\fnil\\fcharset0 Tahoma;}}"));
    EXPECT_TRUE(rtf.contains("\\f0\\fs16 12\\par"));  // 11 px at 96 ppi is 8 pt
    EXPECT_TRUE(rtf.trimmed().endsWith('}'));
    EXPECT_EQ(rtfDocument({}, QStringLiteral("Arial"), 16).count("\\fs24"), 1);
}

TEST(RtfWriter, EscapesEverythingOutsidePlainAscii) {
    struct Case {
        const char* text;
        const char* markup;
    };
    const Case cases[] = {
        {"a\\b", "a\\\\b"},
        {"{x}", "\\{x\\}"},
        {"ação", "a\\'e7\\'e3o"},
        {"€ 5", "\\'80 5"},
        {"Ω", "\\u937?"},
        {"\xF0\x9F\x93\xB7", "\\u-10179?\\u-8969?"},  // a camera, outside the BMP
        {"12\n40", "12\\par\r\n40"},
        {"12\r\n40", "12\\par\r\n40"},
        {"a\tb", "a\\tab b"},
    };
    for (const Case& c : cases) {
        const QByteArray rtf = rtfDocument(QString::fromUtf8(c.text), QStringLiteral("Tahoma"), 11);
        EXPECT_TRUE(rtf.contains(c.markup)) << c.text << " -> " << rtf.toStdString();
        for (char byte : rtf) EXPECT_LT(static_cast<unsigned char>(byte), 0x80) << c.text;
    }
}

TEST(RtfWriter, ARealReaderGetsTheTextBack) {
    TempFolder folder;
    const QString text =
        QString::fromUtf8("12 - 40 - 1033\nRESERVA DE CONTIGÊNCIA {chave} \\ ação");
    const QString path = folder.path(QStringLiteral("doc.rtf"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(rtfDocument(text, QStringLiteral("Tahoma"), 11));
    f.close();
    const QString read = unrtfText(path);
    EXPECT_TRUE(read.contains(QStringLiteral("12 - 40 - 1033"))) << read.toStdString();
    EXPECT_TRUE(read.contains(QString::fromUtf8("RESERVA DE CONTIGÊNCIA {chave} \\ ação")))
        << read.toStdString();
}

}  // namespace patrimonio::test
