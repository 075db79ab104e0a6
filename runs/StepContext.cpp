#include "runs/StepContext.h"

namespace patrimonio {

StepContext::StepContext(DataModule& data, ImportReport& report, RunHost& host)
    : source(data.Con_Novo),
      target(data.Con_Velho),
      reader(data.CdsNovo),
      lookups(data.CdsAux),
      writer(data.CdsAtualiza),
      report(report),
      host(host),
      data_(data) {}

std::unique_ptr<RecordSet> StepContext::targetQuery(const QString& sql,
                                                    std::optional<DatabaseError>* failure) const {
    return data_.SqlDinamicoCDS(sql, QStringLiteral("O"), failure);
}

void StepContext::stopPoint(const QString& where) const {
    if (!host.stopRequested()) return;
    throw RunStopped(QStringLiteral("Execução interrompida pelo operador ") + where + u'.');
}

void StepContext::stopPointAfterWriteBack(const TableTally& tally) const {
    if (!host.stopRequested()) return;
    stopPoint(QStringLiteral("em %1, depois de uma gravação completa: %2 registros gravados "
                             "nessa tabela")
                  .arg(tally.table)
                  .arg(tally.written));
}

}  // namespace patrimonio
