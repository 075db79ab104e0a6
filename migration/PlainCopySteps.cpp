// The seven steps that copy a table as it stands, column by column by position.

#include "core/Errors.h"
#include "core/StatusConvention.h"
#include "db/TableNames.h"
#include "migration/ImportRun.h"
#include "migration/PlainCopy.h"
#include "migration/WriteBack.h"

namespace patrimonio {

namespace {

constexpr int kBatchRows = 500;

const QString kBvCodigo = QStringLiteral("BV_CODIGO");

using NewRow = PlainCopy::NewRow;
using Cadence = PlainCopy::Cadence;

}  // namespace

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
        if (skipBvCodigo && from.FieldName() == kBvCodigo) continue;
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
            source.Next();
        } else {
            source.Next();
            if (j % kBatchRows == 0) writeBack(target, host_, tally);
        }
        if (step.rowCounter) {
            if (!source.Eof()) showRowCounter(host_, j);
            keepAlive(host_);
        }
    }
    if (step.cadence == Cadence::Every500Rows) writeBack(target, host_, tally);
    closePhase(host_);
}

void ImportRun::SetImport_Responsaveis() {
    copyPlainTable({tables::PAT_RESPONSAVEL, QStringLiteral("Importando os responsáveis."),
                    NewRow::Append, false, Cadence::EveryRow, false});
}

void ImportRun::SetImport_TipoBEM() {
    copyPlainTable({tables::PAT_TIPOBEM, QStringLiteral("Importando os tipos de BEM."),
                    NewRow::Append, false, Cadence::EveryRow, false});
}

void ImportRun::SetImport_SubLocalizacoao() {
    copyPlainTable({tables::PAT_SUBLOCALIZACAO, QStringLiteral("Importando as sub-localizações."),
                    NewRow::Append, false, Cadence::EveryRow, false});
}

void ImportRun::SetImport_Depreciacao_Controle() {
    copyPlainTable({tables::PAT_DEPRECIACAO_CONTROLE,
                    QStringLiteral("Importando os controles das depreciações."), NewRow::Append,
                    false, Cadence::EveryRow, false});
}

void ImportRun::SetImport_Depreciacao() {
    copyPlainTable({tables::PAT_DEPRECIACAO, QStringLiteral("Importando as depreciações."),
                    NewRow::Insert, true, Cadence::Every500Rows, true});
}

void ImportRun::SetImport_PatReavaliacao() {
    copyPlainTable({tables::PAT_REAVALIACAO, QStringLiteral("Importando as Reavaliações."),
                    NewRow::Insert, true, Cadence::Every500Rows, true});
}

void ImportRun::SetImport_PatBaixas() {
    copyPlainTable({tables::PAT_BAIXA, QStringLiteral("Importando as Baixas."), NewRow::Append,
                    false, Cadence::EveryRow, true});
}

}  // namespace patrimonio
