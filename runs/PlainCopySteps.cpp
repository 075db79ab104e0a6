// The seven steps that copy a table as it stands, column by column by position, each one row
// of the table below, through the copy pipeline.

#include <array>

#include "core/Errors.h"
#include "core/StatusConvention.h"
#include "db/TableNames.h"
#include "runs/CopyPipeline.h"
#include "runs/ImportRun.h"
#include "runs/PlainCopy.h"
#include "runs/WriteBack.h"

namespace patrimonio {

namespace {

using NewRow = PlainCopy::NewRow;
using Cadence = PlainCopy::Cadence;

// Table, status text, how a row is added, BV_CODIGO left out, write-back cadence, row counter.
const std::array<PlainCopy, 7>& plainCopies() {
    static const std::array<PlainCopy, 7> steps{{
        {tables::PAT_RESPONSAVEL, QStringLiteral("Importando os responsáveis."), NewRow::Append,
         false, Cadence::EveryRow, false},
        {tables::PAT_TIPOBEM, QStringLiteral("Importando os tipos de BEM."), NewRow::Append, false,
         Cadence::EveryRow, false},
        {tables::PAT_SUBLOCALIZACAO, QStringLiteral("Importando as sub-localizações."),
         NewRow::Append, false, Cadence::EveryRow, false},
        {tables::PAT_DEPRECIACAO_CONTROLE,
         QStringLiteral("Importando os controles das depreciações."), NewRow::Append, false,
         Cadence::EveryRow, false},
        {tables::PAT_DEPRECIACAO, QStringLiteral("Importando as depreciações."), NewRow::Insert,
         true, Cadence::Every500Rows, true},
        {tables::PAT_REAVALIACAO, QStringLiteral("Importando as Reavaliações."), NewRow::Insert,
         true, Cadence::Every500Rows, true},
        {tables::PAT_BAIXA, QStringLiteral("Importando as Baixas."), NewRow::Append, false,
         Cadence::EveryRow, true},
    }};
    return steps;
}

const PlainCopy& plainCopyOf(const QString& table) {
    if (const PlainCopy* step = findPlainCopy(table)) return *step;
    throw AppError(QStringLiteral("No plain copy of ") + table);
}

}  // namespace

const PlainCopy* findPlainCopy(const QString& table) {
    for (const PlainCopy& step : plainCopies()) {
        if (step.table == table) return &step;
    }
    return nullptr;
}

// The rows go through a pipeline (CopyPipeline.h): the source read ahead, the next write-back's
// rows built while the server runs the last one; what the step shows and writes stays that of
// the row-by-row copy.
void ImportRun::copyPlainTable(const PlainCopy& step) {
    const StepClock clock(report_, step.table);
    openPhase(host_, step.status);
    // The source is read ahead instead: what an earlier step left here goes.
    data_.CdsNovo.Close();
    CopyPipeline pipeline(step, data_.Con_Novo, data_.CdsAtualiza, host_);
    TableTally& tally = report_.table(step.table);
    const int n = pipeline.rowCount();
    if (step.rowCounter) setRangeMinFirst(host_, n);
    tally.read += n;
    CopyPipeline::Hooks hooks;
    hooks.afterWriteBack = [&] { stopPointAfterWriteBack(tally); };
    hooks.rowHandled = [&](int j) {
        if (step.rowCounter) {
            if (j + 1 < n) showRowCounter(host_, j);
            keepAlive(host_);
        }
        host_.rowsDone(1);
    };
    pipeline.run(tally, hooks);
    closePhase(host_);
}

void ImportRun::SetImport_Responsaveis() {
    copyPlainTable(plainCopyOf(tables::PAT_RESPONSAVEL));
}
void ImportRun::SetImport_TipoBEM() {
    copyPlainTable(plainCopyOf(tables::PAT_TIPOBEM));
}
void ImportRun::SetImport_SubLocalizacoao() {
    copyPlainTable(plainCopyOf(tables::PAT_SUBLOCALIZACAO));
}
void ImportRun::SetImport_Depreciacao_Controle() {
    copyPlainTable(plainCopyOf(tables::PAT_DEPRECIACAO_CONTROLE));
}
void ImportRun::SetImport_Depreciacao() {
    copyPlainTable(plainCopyOf(tables::PAT_DEPRECIACAO));
}
void ImportRun::SetImport_PatReavaliacao() {
    copyPlainTable(plainCopyOf(tables::PAT_REAVALIACAO));
}
void ImportRun::SetImport_PatBaixas() {
    copyPlainTable(plainCopyOf(tables::PAT_BAIXA));
}

}  // namespace patrimonio
