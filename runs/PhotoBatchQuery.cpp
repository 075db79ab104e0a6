#include "runs/PhotoBatchQuery.h"

#include <QStringList>

#include "core/Text.h"
#include "db/RecordSet.h"
#include "db/TableNames.h"

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

QString passQueryAfter(const QString& skipList, const QString& lastCode, int sameCodeRows) {
    QString filter = skipFilter(skipList);
    if (!lastCode.isEmpty()) {
        // The code was read from the database as a whole number: it is no operator's text.
        filter += (filter.isEmpty() ? QStringLiteral("WHERE ") : QStringLiteral(" AND ")) +
                  QStringLiteral("BEM_CODIGO >= ") + lastCode;
    }
    return QStringLiteral("SELECT SKIP ") + QString::number(sameCodeRows) + u' ' + kColumns +
           QStringLiteral("FROM PAT_BEM ") + filter +
           (filter.isEmpty() ? QString() : QStringLiteral(" ")) + kOrder;
}

void PhotoBatches::loadNext(RecordSet& batch, const QString& skipList) {
    if (!cursor_ || skipList != skipList_) {
        cursor_.reset();
        const QString sql =
            anyRow_ ? passQueryAfter(skipList, lastCode_, sameCodeRows_) : passQuery(skipList);
        cursor_.emplace(batch.connection(), sql);
        skipList_ = skipList;
    }
    batch.OpenPage(*cursor_, kPhotoBatchSize);
    notePosition(batch);
}

// Where the pass stands after the batch, for a filter changed before the next one.
void PhotoBatches::notePosition(RecordSet& batch) {
    if (batch.Eof()) return;
    Field& code = batch.FieldByName(columns::BEM_CODIGO);
    for (; !batch.Eof(); batch.Next()) {
        const QString text = code.AsString();
        if (anyRow_ && text == lastCode_) {
            ++sameCodeRows_;
        } else {
            lastCode_ = text;
            sameCodeRows_ = 1;
        }
        anyRow_ = true;
    }
    batch.First();
}

}  // namespace patrimonio
