#include "runs/PhotoBatches.h"

#include <QStringList>

#include "core/Text.h"
#include "db/RecordSet.h"

namespace patrimonio {

namespace {

const QString kColumns = QStringLiteral("BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME ");
const QString kOrder = QStringLiteral("ORDER BY BEM_CODIGO");

}  // namespace

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

QString passQuery(const QString& skipList) {
    const QString filter = skipFilter(skipList);
    return QStringLiteral("SELECT ") + kColumns + QStringLiteral("FROM PAT_BEM ") + filter +
           (filter.isEmpty() ? QString() : QStringLiteral(" ")) + kOrder;
}

void PhotoBatches::loadNext(RecordSet& batch, const QString& skipList) {
    if (!cursor_) cursor_.emplace(batch.connection(), passQuery(skipList));
    batch.openPage(*cursor_, kPhotoBatchSize);
}

}  // namespace patrimonio
