// The import checks itself: at its end, the rows each copied table of the target holds are
// counted and set beside the rows read from the source and refused.

#include <optional>

#include "runs/ImportRun.h"

namespace patrimonio {

void ImportRun::checkTarget() {
    for (TableTally& t : report_.tables()) {
        const QString sql = QStringLiteral("SELECT COUNT(*) FROM ") + t.table;
        std::optional<DatabaseError> failure;
        const std::unique_ptr<RecordSet> count =
            data_.SqlDinamicoCDS(sql, QStringLiteral("O"), &failure);
        if (!count || count->Eof()) {
            report_.warnings << QStringLiteral(
                                    "Atenção: os registros de %1 no banco a ser atualizado não "
                                    "puderam ser contados: %2")
                                    .arg(t.table, failure ? failure->message() : sql);
            continue;
        }
        t.held = count->Fields(0).AsString().toInt();
        const int expected = t.read - t.refused;
        if (t.held != expected) {
            report_.warnings << QStringLiteral(
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
