#include "migration/ImportRun.h"

namespace patrimonio {

void ImportRun::run() {
    SetTrataExclusoes();
    SetIniciaImportacao();
    host_.showMessage(QStringLiteral("Importação concluída."));
}

void ImportRun::SetTrataExclusoes() {}

void ImportRun::SetIniciaImportacao() {}

}  // namespace patrimonio
