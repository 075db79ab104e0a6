#include "RtfWriter.h"

#include <cmath>

#include "core/Text.h"

namespace patrimonio {

namespace {

bool isLineBreak(char16_t c) {
    return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029;
}

void appendHexByte(QByteArray& out, unsigned char byte) {
    static const char digits[] = "0123456789abcdef";
    out += "\\'";
    out += digits[byte >> 4];
    out += digits[byte & 0xF];
}

// RTF wants a signed 16-bit number after \u.
void appendUnicodeUnit(QByteArray& out, char16_t unit) {
    out += "\\u";
    out += QByteArray::number(static_cast<qint16>(unit));
    out += '?';
}

void appendEscaped(QByteArray& out, QChar c) {
    const char16_t u = c.unicode();
    if (u == u'\\' || u == u'{' || u == u'}') {
        out += '\\';
        out += static_cast<char>(u);
    } else if (u == u'\t') {
        out += "\\tab ";
    } else if (u < 0x20 || u == 0x7F) {
        // Other control characters have no place in the document's text.
    } else if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (c.isSurrogate()) {
        appendUnicodeUnit(out, u);
    } else {
        const QByteArray win = toWin1252(QString(c));
        if (win.size() == 1 && static_cast<unsigned char>(win[0]) >= 0x80 && win != "?") {
            appendHexByte(out, static_cast<unsigned char>(win[0]));
        } else {
            appendUnicodeUnit(out, u);
        }
    }
}

QByteArray escapedFontName(const QString& name) {
    QByteArray out;
    for (QChar c : name) {
        if (c == u';') continue;  // ends the font's entry in the table
        appendEscaped(out, c);
    }
    return out;
}

}  // namespace

QByteArray rtfDocument(const QString& text, const QString& fontName, int pixelSize) {
    // Points at 96 pixels per inch, rounded the way the platform's font dialog shows them.
    const int points = static_cast<int>(std::lround(pixelSize * 72.0 / 96.0));
    QByteArray out;
    out += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1046";
    out += "{\\fonttbl{\\f0\\fnil\\fcharset0 " + escapedFontName(fontName) + ";}}\r\n";
    out += "\\viewkind4\\uc1\\pard\\f0\\fs" + QByteArray::number(points * 2) + ' ';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (isLineBreak(c)) {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            out += "\\par\r\n";
        } else {
            appendEscaped(out, text[i]);
        }
    }
    out += "\\par\r\n}\r\n";
    return out;
}

}  // namespace patrimonio
