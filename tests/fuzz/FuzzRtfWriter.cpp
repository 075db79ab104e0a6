// The log's RTF writer on arbitrary text and font names: the document must always be well formed
// (printable ASCII only, balanced braces, complete escapes) and give back the text and the font
// name it was written with.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "RtfInput.h"
#include "RtfReader.h"
#include "app/RtfWriter.h"

namespace {

[[noreturn]] void fail(const QString& what) {
    std::fprintf(stderr, "fuzz_rtf: %s\n", what.toLocal8Bit().constData());
    std::abort();
}

// The font name as the table can hold it: no ';' (it ends the entry), no control characters.
QString expectedFontName(const QString& name) {
    QString out;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u';') continue;
        if (u == u'\t' || (u >= 0x20 && u != 0x7F)) out += c;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace patrimonio;
    const fuzz::RtfInput in = fuzz::rtfInput(data, size);
    const QByteArray doc = rtfDocument(in.text, in.fontName, in.pixelSize);
    const fuzz::RtfReading read = fuzz::readRtf(doc);
    if (!read.error.isEmpty()) fail(QStringLiteral("malformed document: ") + read.error);
    if (read.text != fuzz::expectedRtfText(in.text)) fail(QStringLiteral("the text differs"));
    if (read.fontName != expectedFontName(in.fontName)) fail(QStringLiteral("the font differs"));
    return 0;
}
