// The seven steps that copy a table as it stands, column by column by position, each one row
// of the table below, through the copy pipeline.

#include <array>

#include "core/Errors.h"
#include "core/StatusConvention.h"
#include "db/TableNames.h"
#include "runs/CopyPipeline.h"
#include "runs/PlainCopy.h"
#include "runs/StepContext.h"
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
void copyPlainTable(StepContext& step, const PlainCopy& copy) {
    RunHost& host = step.host;
    const StepClock clock(step.report, copy.table);
    openPhase(host, copy.status);
    // The source is read ahead instead: what an earlier step left here goes.
    step.reader.Close();
    CopyPipeline pipeline(copy, step.source, step.writer, host);
    TableTally& tally = step.report.table(copy.table);
    const int n = pipeline.rowCount();
    if (copy.rowCounter) setRangeMinFirst(host, n);
    tally.read += n;
    CopyPipeline::Hooks hooks;
    hooks.afterWriteBack = [&] { step.stopPointAfterWriteBack(tally); };
    hooks.rowHandled = [&](int j) {
        if (copy.rowCounter) {
            if (j + 1 < n) showRowCounter(host, j);
            keepAlive(host);
        }
        host.rowsDone(1);
    };
    pipeline.run(tally, hooks);
    closePhase(host);
}

}  // namespace patrimonio
