// The two reserve rows added to the target's organs and units on every import.

#include "core/Text.h"
#include "runs/StepContext.h"

namespace patrimonio {

namespace {

// 21 December 2015, in the form the server reads month first. Sent as it stands: converting it
// through the workstation's date settings made the import fail under most of them.
const QString kReserveDate = QStringLiteral("12/21/2015");

QString reserveRowStatement(const QString& name, const QString& codes, const QString& tail) {
    return QStringLiteral(
               "INSERT INTO GORGAOUNIDADE (CDORGUNI, NMORGUNI, CDORG, CDUNI, USUARIO, DATAMOD, "
               "ANO, INABILITADO, ENT_CODIGO, ORGAO_SICOM) VALUES ((SELECT MAX(CDORGUNI) + 1 "
               "FROM GORGAOUNIDADE), ") +
           quotedSql(name) + codes + quotedSql(kReserveDate) + tail;
}

}  // namespace

void addReserveRows(StepContext& step) {
    // The two names differ by one letter; both are kept as the register has always had them.
    step.target.ExecuteDirect(reserveRowStatement(QStringLiteral("RESERVA DE CONTIGÊNCIA"),
                                                  QStringLiteral(", 9, 0, 0, "),
                                                  QStringLiteral(", NULL, NULL, NULL, NULL)")));
    step.target.ExecuteDirect(
        reserveRowStatement(QStringLiteral("RESERVA DE CONTINGÊNCIA"),
                            QStringLiteral(", (SELECT MAX(CDORGUNI) FROM GORGAOUNIDADE), 1, 0, "),
                            QStringLiteral(", NULL, NULL, 1, 1)")));
}

}  // namespace patrimonio
