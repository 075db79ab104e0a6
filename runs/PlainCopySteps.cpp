// The seven steps that copy a table as it stands, column by column by position, each one row
// of the table below; and the column copy the location and asset steps share.

#include <array>

#include "core/Errors.h"
#include "core/StatusConvention.h"
#include "db/TableNames.h"
#include "runs/ImportRun.h"
#include "runs/PlainCopy.h"
#include "runs/WriteBack.h"

namespace patrimonio {

namespace {

constexpr int kBatchRows = 500;

using columns::BV_CODIGO;
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

void requireTargetColumn(RecordSet& target, const Field& from, const QString& table, int position) {
    if (position < target.fieldCount()) return;
    throw AppError(QStringLiteral("%1 do banco a ser atualizado não tem a coluna %2 (posição %3) "
                                  "do banco com as informações")
                       .arg(table, from.FieldName())
                       .arg(position + 1));
}

void copyColumnsByPosition(RecordSet& source, RecordSet& target, const QString& table,
                           bool skipBvCodigo) {
    const int columns = source.fieldCount();
    for (int i = 0; i < columns; ++i) {
        Field& from = source.Fields(i);
        if (skipBvCodigo && from.FieldName() == BV_CODIGO) continue;
        requireTargetColumn(target, from, table, i);
        target.Fields(i).setAsVariant(from.AsVariant());
    }
}

void ImportRun::copyPlainTable(const PlainCopy& step) {
    openPhase(host_, step.status);
    RecordSet& source = data_.CdsNovo;
    RecordSet& target = data_.CdsAtualiza;
    const QString select = QStringLiteral("SELECT * FROM ") + step.table;
    reopen(source, select);
    reopen(target, select);
    if (step.rowCounter) setRangeMinFirst(host_, source.RecordCount());

    TableTally& tally = report_.table(step.table);
    source.First();
    const int n = source.RecordCount();
    tally.read += n;
    for (int j = 0; j < n; ++j) {
        if (step.newRow == NewRow::Append) {
            target.Append();
        } else {
            target.Insert();
        }
        copyColumnsByPosition(source, target, step.table, step.skipsBvCodigo);
        target.Post();
        if (step.cadence == Cadence::EveryRow) {
            writeBack(target, host_, tally);
            stopPointAfterWriteBack(tally);
            source.Next();
        } else {
            source.Next();
            if (j % kBatchRows == 0) {
                writeBack(target, host_, tally);
                stopPointAfterWriteBack(tally);
            }
        }
        if (step.rowCounter) {
            if (!source.Eof()) showRowCounter(host_, j);
            keepAlive(host_);
        }
        host_.rowsDone(1);
    }
    if (step.cadence == Cadence::Every500Rows) {
        writeBack(target, host_, tally);
        stopPointAfterWriteBack(tally);
    }
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
