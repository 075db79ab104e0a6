#include "runs/PhotoBatchQuery.h"

#include <QStringList>

#include "core/Text.h"

namespace patrimonio {

bool isValidSkipList(const QString& skipList) {
    if (trimmed(skipList).isEmpty()) return true;
    const QStringList items = skipList.split(u',');
    for (const QString& item : items) {
        if (!isInt64BetweenSpaces(item)) return false;
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
