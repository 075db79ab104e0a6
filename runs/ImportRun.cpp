#include "runs/ImportRun.h"

namespace patrimonio {

QString ImportRun::completionMessage(int refusedRows, const QStringList& warnings) {
    QString text = QStringLiteral("Importação concluída.");
    if (refusedRows == 1) {
        text += QStringLiteral(
            "\n1 registro foi recusado pelo banco de destino e está listado no log.");
    } else if (refusedRows > 1) {
        text += QStringLiteral(
                    "\n%1 registros foram recusados pelo banco de destino e estão listados no log.")
                    .arg(refusedRows);
    }
    for (const QString& warning : warnings) text += u'\n' + warning;
    return text;
}

void ImportRun::run() {
    report_ = ImportReport{};
    reportLogged_ = false;
    try {
        SetTrataExclusoes();
        SetIniciaImportacao();
        checkTarget();
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
    // The report ends its last line: what the log receives next (the codes of a photo pass)
    // starts on a line of its own.
    host_.appendLogLine(QString());
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
