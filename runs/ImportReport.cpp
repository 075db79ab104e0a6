#include "runs/ImportReport.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/Amounts.h"

namespace patrimonio {

namespace {

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

StepClock::StepClock(ImportReport& report, QString table)
    : report_(report), table_(std::move(table)), startMs_(steadyMs()) {}

StepClock::~StepClock() {
    TableTally* tally = report_.find(table_);
    if (!tally) return;
    // A table copied in several steps (none today) would add them up.
    tally->elapsedMs = std::max<std::int64_t>(tally->elapsedMs, 0) + (steadyMs() - startMs_);
}

TableTally& ImportReport::table(const QString& name) {
    for (TableTally& t : tables_) {
        if (t.table == name) return t;
    }
    tables_.push_back(TableTally{name});
    return tables_.back();
}

TableTally* ImportReport::find(const QString& name) {
    for (TableTally& t : tables_) {
        if (t.table == name) return &t;
    }
    return nullptr;
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
        if (t.elapsedMs >= 0) {
            out.last() += QStringLiteral("; %1 (%2)")
                              .arg(durationText(t.elapsedMs), rowRateText(t.read, t.elapsedMs));
        }
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
    QStringList durations;
    if (copyMs >= 0) durations << QStringLiteral("cópia do banco %1").arg(durationText(copyMs));
    if (purgeMs >= 0) durations << QStringLiteral("exclusão %1").arg(durationText(purgeMs));
    if (totalMs >= 0) durations << QStringLiteral("total %1").arg(durationText(totalMs));
    if (!durations.isEmpty())
        out << QStringLiteral("Duração: ") + durations.join(QStringLiteral(", "));
    out << QStringLiteral("Localizações sem órgão/unidade traduzido: %1")
               .arg(untranslatedLocations);
    out << warnings;
    return out;
}

}  // namespace patrimonio
