#include "runs/ImportReport.h"

namespace patrimonio {

TableTally& ImportReport::table(const QString& name) {
    for (TableTally& t : tables_) {
        if (t.table == name) return t;
    }
    tables_.push_back(TableTally{name});
    return tables_.back();
}

int ImportReport::refusedRows() const {
    int sum = 0;
    for (const TableTally& t : tables_) sum += t.refused;
    return sum;
}

QStringList ImportReport::lines() const {
    QStringList out;
    for (const TableTally& t : tables_) {
        out << QStringLiteral("%1: %2 lidos, %3 gravados, %4 recusados")
                   .arg(t.table)
                   .arg(t.read)
                   .arg(t.written)
                   .arg(t.refused);
        if (t.held >= 0) out.last() += QStringLiteral("; %1 no banco a ser atualizado").arg(t.held);
    }
    if (photos.any()) {
        out << QStringLiteral(
                   "Fotos dos bens: %1 recompactadas, %2 mantidas sem recompactar, %3 bens sem "
                   "foto; %4 bytes antes, %5 bytes depois")
                   .arg(photos.recompressed)
                   .arg(photos.kept)
                   .arg(photos.none)
                   .arg(photos.bytesBefore)
                   .arg(photos.bytesAfter);
        if (photos.lost > 0) {
            out.last() += QStringLiteral("; %1 não importadas").arg(photos.lost);
        }
    }
    out << QStringLiteral("Localizações sem órgão/unidade traduzido: %1")
               .arg(untranslatedLocations);
    out << warnings;
    return out;
}

}  // namespace patrimonio
