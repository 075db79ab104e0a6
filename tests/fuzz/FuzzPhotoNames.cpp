// The text rules that turn database values and typed text into file names and SQL: trimming, the
// file name and extension of a path, the whole-number test, WIN1252 both ways, SQL quoting, and
// how the photo pass names a photo's files (the made name of a photo without an extension).
// The input is read as in the RTF target (byte 0 chooses UTF-8 or UTF-16), so that unpaired
// surrogates and every control character reach the rules too.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "RtfInput.h"
#include "core/AppPaths.h"
#include "core/Iif.h"
#include "core/Text.h"
#include "photos/PhotoFiles.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_names: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what) {
    if (!condition) fail(what);
}

bool isSeparator(QChar c) {
    return c == u'/' || c == u'\\' || c == u':';
}

bool hasSeparator(const QString& s) {
    for (const QChar c : s)
        if (isSeparator(c)) return true;
    return false;
}

void checkTrimmed(const QString& s) {
    using patrimonio::trimmed;
    const QString t = trimmed(s);
    check(s.contains(t), "trimmed text is not part of the text");
    check(t.isEmpty() || (t.front().unicode() > 0x20 && t.back().unicode() > 0x20),
          "trimmed text keeps a blank or control character at an end");
    check(trimmed(t) == t, "trimming twice changes the text");
}

void checkPathParts(const QString& s) {
    using namespace patrimonio;
    const QString name = fileNameOf(s);
    check(s.endsWith(name), "the file name is not the end of the path");
    check(!hasSeparator(name), "the file name holds a separator");
    check(hasSeparator(s) || name == s, "a path without separators is not its own file name");
    check(s.size() == name.size() || isSeparator(s[s.size() - name.size() - 1]),
          "the file name does not start after a separator");

    const QString ext = extensionOf(s);
    check(name.endsWith(ext), "the extension is not the end of the file name");
    check(ext.isEmpty() == !name.contains(u'.'), "extension found or missed wrongly");
    check(ext.isEmpty() || (ext.front() == u'.' && ext.count(u'.') == 1),
          "the extension does not start at the last dot");
    // What the recompression tests: an extension, trimmed of blanks, is never empty (the dot
    // stays), so every photo name with a dot is handled and every made name has one.
    check(ext.isEmpty() || !trimmed(ext).isEmpty(), "a dot extension trims to nothing");
}

void checkWholeNumber(const QString& s) {
    using patrimonio::isWholeNumber;
    if (!isWholeNumber(s)) return;
    const QString t = s.trimmed();
    qsizetype i = t.startsWith(u'-') || t.startsWith(u'+') ? 1 : 0;
    check(i < t.size(), "a sign alone passed as a whole number");
    for (; i < t.size(); ++i) check(t[i] >= u'0' && t[i] <= u'9', "a non-digit passed");
    // A whole number that fits 32 bits converts; a longer one is refused by the conversion.
    bool ok = false;
    const long long wide = t.toLongLong(&ok);
    bool okInt = false;
    const int narrow = t.toInt(&okInt);
    if (ok && wide >= INT32_MIN && wide <= INT32_MAX)
        check(okInt && narrow == wide, "a 32-bit whole number does not convert");
}

void checkWin1252(const QString& s, const std::uint8_t* data, std::size_t size) {
    using namespace patrimonio;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    check(toWin1252(fromWin1252(bytes)) == bytes, "WIN1252 bytes do not survive a round trip");
    const QByteArray encoded = toWin1252(s);
    check(encoded.size() == s.size(), "one character did not give one byte");
    check(fromWin1252(encoded).size() == s.size(), "decoding changed the length");
}

void checkQuoted(const QString& s) {
    const QString q = patrimonio::quotedSql(s);
    check(q.size() >= 2 && q.front() == u'\'' && q.back() == u'\'', "not enclosed in quotes");
    QString inner = q.mid(1, q.size() - 2);
    // Inside, quotes come only in pairs: the text cannot end the literal early.
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] != u'\'') continue;
        check(i + 1 < inner.size() && inner[i + 1] == u'\'', "a lone quote inside the literal");
        ++i;
    }
    check(inner.replace(QStringLiteral("''"), QStringLiteral("'")) == s, "quoting lost text");
}

// As the photo pass names the files of a photo stored under `name`.
void checkPhotoFiles(const QString& name) {
    using namespace patrimonio;
    const QString made = extensionOf(name).isEmpty() ? newImageName(name) : QString();
    if (!made.isEmpty()) {
        check(made.endsWith(QStringLiteral(".jpg")) && made.size() <= 44, "a made name's form");
        // Compared as text: a null name and an empty one are the same name here.
        check(made.chopped(4) == name.left(made.size() - 4),
              "a made name does not keep the name's start");
    }
    const QString chosen = Iif(!trimmed(made).isEmpty(), made, name);
    // Every chosen name has an extension that survives the recompression's own test, so a
    // photo is never silently left alone for want of one.
    check(!trimmed(extensionOf(chosen)).isEmpty(), "a chosen photo name without extension");
    if (containsFolderSeparator(chosen)) return;  // refused by the pass before any file is written
    setExecutableDirForTesting(QStringLiteral("/exe"));
    const QString folder = beforeFolder();
    const QString before = beforeFile(QStringLiteral("12"), chosen);
    const qsizetype lastSeparator = std::max(before.lastIndexOf(u'/'), before.lastIndexOf(u'\\'));
    check(before.left(lastSeparator + 1) == folder, "a photo file outside its folder");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const patrimonio::fuzz::RtfInput in = patrimonio::fuzz::rtfInput(data, size);
    const QString s = in.fontName + in.text;
    checkTrimmed(s);
    checkPathParts(s);
    checkWholeNumber(s);
    checkWin1252(s, data, size);
    checkQuoted(s);
    checkPhotoFiles(s);
    return 0;
}
