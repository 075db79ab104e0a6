#include "Text.h"

#include <array>

namespace patrimonio {

namespace {

// Code points of bytes 0x80..0x9F in WIN1252; the undefined ones keep their C1 value.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char encodeChar(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

bool isSeparator(QChar c) {
    return c == u'/' || c == u'\\' || c == u':';
}

bool isSpaceOrTab(QChar c) {
    return c == u' ' || c == u'\t';
}

// text[begin, end) is an optional sign followed by at least one decimal digit.
bool isSignedDigits(const QString& text, qsizetype begin, qsizetype end) {
    qsizetype i = begin;
    if (i < end && (text[i] == u'-' || text[i] == u'+')) ++i;
    if (i == end) return false;
    for (; i < end; ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
    }
    return true;
}

}  // namespace

QByteArray toWin1252(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text) out.append(encodeChar(c.unicode()));
    return out;
}

QString fromWin1252(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        out.append(u >= 0x80 && u < 0xA0 ? QChar(kHighControls[u - 0x80]) : QChar(u));
    }
    return out;
}

QString trimmed(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20) ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20) --end;
    return text.mid(begin, end - begin);
}

bool isWholeNumber(const QString& text) {
    const QString t = text.trimmed();
    return isSignedDigits(t, 0, t.size());
}

bool isInt64BetweenSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpaceOrTab(text[begin])) ++begin;
    while (end > begin && isSpaceOrTab(text[end - 1])) --end;
    if (!isSignedDigits(text, begin, end)) return false;
    bool ok = false;
    text.mid(begin, end - begin).toLongLong(&ok);
    return ok;
}

QString fileNameOf(const QString& path) {
    for (qsizetype i = path.size(); i > 0; --i) {
        if (isSeparator(path[i - 1])) return path.mid(i);
    }
    return path;
}

QString extensionOf(const QString& path) {
    for (qsizetype i = path.size(); i > 0; --i) {
        const QChar c = path[i - 1];
        if (c == u'.') return path.mid(i - 1);
        if (isSeparator(c)) break;
    }
    return {};
}

QString quotedSql(const QString& text) {
    QString out = text;
    out.replace(u'\'', QStringLiteral("''"));
    return u'\'' + out + u'\'';
}

}  // namespace patrimonio
