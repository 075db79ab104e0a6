#include "runs/ImportRun.h"

namespace patrimonio {

QString ImportRun::completionMessage(int refusedRows) {
    QString text = QStringLiteral("Importação concluída.");
    if (refusedRows == 1) {
        text += QStringLiteral(
            "\n1 registro foi recusado pelo banco de destino e está listado no log.");
    } else if (refusedRows > 1) {
        text += QStringLiteral(
                    "\n%1 registros foram recusados pelo banco de destino e estão listados no log.")
                    .arg(refusedRows);
    }
    return text;
}

void ImportRun::run() {
    report_ = ImportReport{};
    reportLogged_ = false;
    try {
        SetTrataExclusoes();
        SetIniciaImportacao();
    } catch (...) {
        // What was copied before the error stays in the target; the operator sees how much.
        logReport();
        throw;
    }
    logReport();
}

void ImportRun::logReport() {
    if (report_.tables().empty()) return;
    for (const QString& line : report_.lines()) host_.appendLogLine(line);
    reportLogged_ = true;
}

void ImportRun::SetIniciaImportacao() {
    SetImport_Responsaveis();
    SetImport_Gorgaounidade();
    SetImport_TipoBEM();
    SetImport_Localizacao();
    SetImport_SubLocalizacoao();
    SetImport_Bens();
    SetImport_Depreciacao_Controle();
    SetImport_Depreciacao();
    SetImport_PatReavaliacao();
    SetImport_PatBaixas();
}

}  // namespace patrimonio
