#include "runs/WriteBack.h"

#include "core/Errors.h"

namespace patrimonio {

QString refusedRowLine(const QString& table, const QString& key, const QString& message) {
    QString oneLine = message;
    oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(u'\n', u' ');
    return QStringLiteral("Registro recusado em %1, chave %2: %3")
        .arg(table, key.isEmpty() ? QStringLiteral("(nula)") : key, oneLine.trimmed());
}

WriteBackTry tryWriteBack(RecordSet& target) {
    WriteBackTry t;
    t.pending = target.pendingCount();
    t.refused = target.ApplyUpdates(0);
    return t;
}

int writeBackAfter(const WriteBackTry& first, RecordSet& target, RunReport& host, TableTally& tally,
                   const std::function<void(int changeIndex)>& dropped) {
    int refused = 0;
    for (WriteBackTry t = first;; t = tryWriteBack(target)) {
        if (t.refused == 0) {
            tally.written += t.pending;
            break;
        }
        const auto& refusal = target.lastRefusal();
        if (!refusal || refusal->changeIndex < 0 || refusal->changeIndex >= t.pending) {
            // Nothing to drop: sending the same changes again would be refused again.
            throw AppError(QStringLiteral("A gravação em %1 foi recusada sem indicar o registro.")
                               .arg(tally.table));
        }
        host.appendLogLine(
            refusedRowLine(tally.table, refusal->firstColumn.toString(), refusal->message));
        target.dropPendingChange(refusal->changeIndex);
        if (dropped) dropped(refusal->changeIndex);
        ++refused;
    }
    tally.refused += refused;
    return refused;
}

int writeBack(RecordSet& target, RunReport& host, TableTally& tally,
              const std::function<void(int changeIndex)>& dropped) {
    return writeBackAfter(tryWriteBack(target), target, host, tally, dropped);
}

}  // namespace patrimonio
