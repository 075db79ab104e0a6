// The codes to skip of the photo pass: typed by the operator and put into the batch query as
// typed, so the check is all that stands between the box and the SQL. Whatever it lets through
// must be nothing but whole numbers, signs, commas and blanks, and the query must keep its shape.
// The input is read as in the RTF target (byte 0 chooses UTF-8 or UTF-16).

#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "RtfInput.h"
#include "core/Text.h"
#include "runs/PhotoBatches.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_skiplist: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what) {
    if (!condition) fail(what);
}

const QString kHead =
    QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM ");
const QString kOrder = QStringLiteral("ORDER BY BEM_CODIGO");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace patrimonio;
    const fuzz::RtfInput in = fuzz::rtfInput(data, size);
    const QString s = in.fontName + in.text;
    if (!isValidSkipList(s)) return 0;

    const QString query = passQuery(s);
    check(query.startsWith(kHead) && query.endsWith(kOrder), "the batch query lost its shape");
    if (trimmed(s).isEmpty()) {
        check(query == kHead + kOrder, "a blank list made a filter");
        return 0;
    }
    check(query == kHead + QStringLiteral("WHERE BEM_CODIGO NOT IN (") + s + QStringLiteral(") ") +
                       kOrder,
          "the list is not the filter as typed");
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        check((u >= u'0' && u <= u'9') || u == u'+' || u == u'-' || u == u',' || u == u' ' ||
                  u == u'\t',
              "a character other than digits, signs, commas and blanks passed");
    }
    check(!s.contains(QStringLiteral("--")), "an SQL comment passed");
    // Every item holds digits: no empty item, no sign alone.
    for (const QString& item : s.split(u',')) {
        bool digit = false;
        for (const QChar c : item) digit = digit || (c >= u'0' && c <= u'9');
        check(digit, "an item without digits passed");
    }
    return 0;
}
