// The import checks itself: at its end, the rows each copied table of the target holds are
// counted and set beside the rows read from the source and refused.

#include <optional>

#include "runs/StepContext.h"

namespace patrimonio {

void checkTargetRows(StepContext& step) {
    for (TableTally& t : step.report.tables()) {
        const QString sql = QStringLiteral("SELECT COUNT(*) FROM ") + t.table;
        std::optional<DatabaseError> failure;
        const std::unique_ptr<RecordSet> count = step.targetQuery(sql, &failure);
        if (!count || count->Eof()) {
            step.report.warnings << QStringLiteral(
                                        "Atenção: os registros de %1 no banco a ser atualizado não "
                                        "puderam ser contados: %2")
                                        .arg(t.table, failure ? failure->message() : sql);
            continue;
        }
        t.held = count->Fields(0).AsString().toInt();
        const int expected = t.read - t.refused;
        if (t.held != expected) {
            step.report.warnings << QStringLiteral(
                                        "Atenção: %1 tem %2 registros no banco a ser atualizado, e "
                                        "não os %3 esperados (%4 lidos, %5 recusados).")
                                        .arg(t.table)
                                        .arg(t.held)
                                        .arg(expected)
                                        .arg(t.read)
                                        .arg(t.refused);
        }
    }
}

}  // namespace patrimonio
