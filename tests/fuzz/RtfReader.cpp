#include "RtfReader.h"

#include <QVector>

#include "core/Text.h"

namespace patrimonio::fuzz {

namespace {

bool isLetter(char c) {
    return c >= 'a' && c <= 'z';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct Group {
    bool fontTable = false;
    int skipAfterUnicode = 1;  // \ucN
};

}  // namespace

RtfReading readRtf(const QByteArray& doc) {
    RtfReading r;
    const auto failWith = [&r](const QString& why) {
        r.error = why;
        return r;
    };
    for (const char c : doc) {
        const auto u = static_cast<unsigned char>(c);
        if (!(u == '\r' || u == '\n' || (u >= 0x20 && u < 0x7F)))
            return failWith(QStringLiteral("byte 0x%1 is not printable ASCII").arg(u, 2, 16));
    }
    if (!doc.startsWith("{\\rtf1")) return failWith(QStringLiteral("no {\\rtf1 header"));

    QVector<Group> groups;
    bool closed = false;
    int pendingSkip = 0;  // fallback characters still to skip after \uN
    QString* out = &r.text;
    const auto put = [&](QChar ch) {
        if (pendingSkip > 0) {
            --pendingSkip;
            return;
        }
        if (groups.isEmpty()) return;
        if (groups.last().fontTable)
            r.fontName += ch;
        else
            *out += ch;
    };

    for (qsizetype i = 0; i < doc.size();) {
        const char c = doc[i];
        if (closed) {
            if (c != '\r' && c != '\n') return failWith(QStringLiteral("text after the document"));
            ++i;
            continue;
        }
        if (c == '{') {
            groups.push_back(groups.isEmpty() ? Group{} : groups.last());
            ++i;
        } else if (c == '}') {
            if (groups.isEmpty()) return failWith(QStringLiteral("unbalanced closing brace"));
            groups.pop_back();
            if (groups.isEmpty()) closed = true;
            ++i;
        } else if (c == '\r' || c == '\n') {
            ++i;  // line ends in the markup carry no text
        } else if (c != '\\') {
            put(QChar(c));
            ++i;
        } else {
            if (i + 1 >= doc.size()) return failWith(QStringLiteral("backslash at the end"));
            const char next = doc[i + 1];
            if (next == '\\' || next == '{' || next == '}') {
                put(QChar(next));
                i += 2;
            } else if (next == '\'') {
                if (i + 3 >= doc.size()) return failWith(QStringLiteral("short \\' escape"));
                const int hi = hexValue(doc[i + 2]);
                const int lo = hexValue(doc[i + 3]);
                if (hi < 0 || lo < 0) return failWith(QStringLiteral("bad \\' escape"));
                const QString decoded = fromWin1252(QByteArray(1, static_cast<char>(hi * 16 + lo)));
                put(decoded.isEmpty() ? QChar(u'?') : decoded[0]);
                i += 4;
            } else if (isLetter(next)) {
                qsizetype j = i + 1;
                while (j < doc.size() && isLetter(doc[j])) ++j;
                const QByteArray word = doc.mid(i + 1, j - i - 1);
                qsizetype k = j;
                if (k < doc.size() && doc[k] == '-') ++k;
                const qsizetype digitsStart = k;
                while (k < doc.size() && isDigit(doc[k])) ++k;
                const bool hasNumber = k > digitsStart;
                if (!hasNumber) k = j;  // a lone '-' is text, not part of the word
                if (hasNumber && k - digitsStart > 10)
                    return failWith(QStringLiteral("parameter too long"));
                const long long number = hasNumber ? doc.mid(j, k - j).toLongLong() : 0;
                if (k < doc.size() && doc[k] == ' ') ++k;  // the delimiting blank belongs to it
                i = k;
                if (groups.isEmpty()) return failWith(QStringLiteral("control word outside"));
                if (word == "fonttbl") {
                    groups.last().fontTable = true;
                } else if (word == "par") {
                    put(QChar(u'\n'));
                } else if (word == "tab") {
                    put(QChar(u'\t'));
                } else if (word == "uc") {
                    groups.last().skipAfterUnicode = static_cast<int>(number);
                } else if (word == "u") {
                    if (!hasNumber || number < -32768 || number > 65535)
                        return failWith(QStringLiteral("bad \\u parameter"));
                    pendingSkip = 0;
                    put(QChar(static_cast<char16_t>(number < 0 ? number + 65536 : number)));
                    pendingSkip = groups.last().skipAfterUnicode;
                }
            } else {
                return failWith(QStringLiteral("unknown control symbol \\%1").arg(QChar(next)));
            }
        }
    }
    if (!closed) return failWith(QStringLiteral("the document is not closed"));
    if (r.fontName.endsWith(u';')) r.fontName.chop(1);
    return r;
}

QString expectedRtfText(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\r' || c == u'\n' || c == 0x2028 || c == 0x2029) {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            out += u'\n';
        } else if (c == u'\t' || (c >= 0x20 && c != 0x7F)) {
            out += QChar(c);
        }
    }
    out += u'\n';
    return out;
}

}  // namespace patrimonio::fuzz
