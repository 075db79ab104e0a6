#include "photos/BatchQuery.h"

#include <QStringList>

#include "core/Text.h"

namespace patrimonio {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

// Blanks, an optional sign, decimal digits that fit a 64-bit integer, blanks.
bool isWholeNumberItem(const QString& item) {
    qsizetype begin = 0;
    qsizetype end = item.size();
    while (begin < end && isBlank(item[begin])) ++begin;
    while (end > begin && isBlank(item[end - 1])) --end;
    qsizetype i = begin;
    if (i < end && (item[i] == u'-' || item[i] == u'+')) ++i;
    if (i == end) return false;
    for (qsizetype j = i; j < end; ++j) {
        if (item[j] < u'0' || item[j] > u'9') return false;
    }
    bool ok = false;
    item.mid(begin, end - begin).toLongLong(&ok);
    return ok;
}

}  // namespace

bool isValidSkipList(const QString& skipList) {
    if (trimmed(skipList).isEmpty()) return true;
    const QStringList items = skipList.split(u',');
    for (const QString& item : items) {
        if (!isWholeNumberItem(item)) return false;
    }
    return true;
}

QString skipFilter(const QString& skipList) {
    if (trimmed(skipList).isEmpty()) return {};
    return QStringLiteral("WHERE BEM_CODIGO NOT IN (") + skipList + u')';
}

QString batchQuery(int offset, const QString& skipList) {
    const QString filter = skipFilter(skipList);
    return QStringLiteral("SELECT FIRST %1 SKIP ").arg(kPhotoBatchSize) + QString::number(offset) +
           QStringLiteral(" BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME ") +
           QStringLiteral("FROM PAT_BEM ") + filter +
           (filter.isEmpty() ? QString() : QStringLiteral(" ")) +
           QStringLiteral("ORDER BY BEM_CODIGO");
}

}  // namespace patrimonio
