#include "runs/RowCopy.h"

#include "core/Errors.h"

namespace patrimonio {

void requireTargetColumn(RecordSet& target, const QString& fromName, const QString& table,
                         int position) {
    if (position < target.fieldCount()) return;
    throw AppError(QStringLiteral("%1 do banco a ser atualizado não tem a coluna %2 (posição %3) "
                                  "do banco com as informações")
                       .arg(table, fromName)
                       .arg(position + 1));
}

}  // namespace patrimonio
