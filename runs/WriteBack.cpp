#include "runs/WriteBack.h"

#include "core/Errors.h"

namespace patrimonio {

QString refusedRowLine(const QString& table, const QString& key, const QString& message) {
    QString oneLine = message;
    oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(u'\n', u' ');
    return QStringLiteral("Registro recusado em %1, chave %2: %3")
        .arg(table, key.isEmpty() ? QStringLiteral("(nula)") : key, oneLine.trimmed());
}

int writeBack(RecordSet& target, RunReport& host, TableTally& tally,
              const std::function<void(int changeIndex)>& dropped) {
    int refused = 0;
    for (;;) {
        const int pending = target.pendingCount();
        if (target.ApplyUpdates(0) == 0) {
            tally.written += pending;
            break;
        }
        const auto& refusal = target.lastRefusal();
        if (!refusal || refusal->changeIndex < 0 || refusal->changeIndex >= pending) {
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

}  // namespace patrimonio
