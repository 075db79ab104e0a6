// The check an import makes before its purge: the purge empties twelve tables at once, so
// anything the steps after it would miss (a connection, a table, the view, a column) must be
// known before the first DELETE, all of it in one message.

#include <QStringList>
#include <optional>

#include "core/Errors.h"
#include "db/DatabaseIdentity.h"
#include "db/RecordSet.h"
#include "db/TableNames.h"
#include "runs/ImportRun.h"
#include "runs/PlainCopy.h"

namespace patrimonio {

namespace {

using columns::BEM_IMAGEM;
using columns::BV_CODIGO;

const QString kSourceSide = QStringLiteral("banco com as informações");
const QString kTargetSide = QStringLiteral("banco a ser atualizado");

// The copied tables in the order of the steps, and the columns each step does not copy by
// position (BV_CODIGO is left out, BEM_IMAGEM is found by name).
struct CopiedTable {
    const QString& table;
    QStringList notByPosition;
};

std::vector<CopiedTable> copiedTables() {
    const auto plain = [](const QString& table) {
        const PlainCopy* step = findPlainCopy(table);
        return CopiedTable{table,
                           step && step->skipsBvCodigo ? QStringList{BV_CODIGO} : QStringList{}};
    };
    return {plain(tables::PAT_RESPONSAVEL),
            plain(tables::PAT_TIPOBEM),
            {tables::PAT_LOCALIZACAO, {}},
            plain(tables::PAT_SUBLOCALIZACAO),
            {tables::PAT_BEM, {BV_CODIGO, BEM_IMAGEM}},
            plain(tables::PAT_DEPRECIACAO_CONTROLE),
            plain(tables::PAT_DEPRECIACAO),
            plain(tables::PAT_REAVALIACAO),
            plain(tables::PAT_BAIXA)};
}

// Columns named in the SQL of the location lookups and of the reserve rows.
const QStringList kViewColumns = {QStringLiteral("CDORGUNI"), QStringLiteral("CDORG"),
                                  QStringLiteral("CDUNI")};
const QStringList kOrgUnitColumns = {QStringLiteral("CDORGUNI"),   QStringLiteral("NMORGUNI"),
                                     QStringLiteral("CDORG"),      QStringLiteral("CDUNI"),
                                     QStringLiteral("USUARIO"),    QStringLiteral("DATAMOD"),
                                     QStringLiteral("ANO"),        QStringLiteral("INABILITADO"),
                                     QStringLiteral("ENT_CODIGO"), QStringLiteral("ORGAO_SICOM")};

// "Table unknown": the table or view is not there at all.
const QString kUnknownTable = QStringLiteral("42S02");

class Check {
public:
    // False (and noted) when the connection belongs to no database; a lost one connects
    // again to its own database.
    bool connection(Connection& c, const QString& side, const QString& fieldCaption) {
        if (c.Connected()) return true;
        if (c.databaseString().isEmpty()) {
            missing_ << QStringLiteral("- a conexão com o %1: escolha o banco no campo \"%2\"")
                            .arg(side, fieldCaption);
            return false;
        }
        try {
            c.Open();
        } catch (const DatabaseError& e) {
            missing_ << QStringLiteral("- a conexão com o %1 (%2): %3")
                            .arg(side, c.databaseString(), e.message().simplified());
            return false;
        }
        return true;
    }

    // The column names of a table or view, read without fetching a row; nothing (and noted)
    // when it cannot be read.
    std::optional<QStringList> columnsOf(Connection& c, const QString& side, const QString& kind,
                                         const QString& name) {
        RecordSet rs(c);
        rs.setCommandText(QStringLiteral("SELECT * FROM ") + name + QStringLiteral(" WHERE 1=0"));
        try {
            rs.Open();
        } catch (const DatabaseError& e) {
            if (e.connectionLost()) throw;
            QString line = QStringLiteral("- no %1: a %2 %3").arg(side, kind, name);
            if (e.sqlState() != kUnknownTable) {
                line +=
                    QStringLiteral(", que não pôde ser lida (%1)").arg(e.message().simplified());
            }
            missing_ << line;
            return std::nullopt;
        }
        QStringList names;
        for (int i = 0; i < rs.fieldCount(); ++i) names << rs.Fields(i).FieldName();
        return names;
    }

    void requireColumns(const QStringList& have, const QStringList& needed, const QString& side,
                        const QString& kind, const QString& name) {
        for (const QString& column : needed) {
            if (!have.contains(column)) {
                missing_ << QStringLiteral("- no %1: a coluna %2 da %3 %4")
                                .arg(side, column, kind, name);
            }
        }
    }

    // The steps copy by position: every source column they copy needs a target column at the
    // same place.
    void requirePositions(const CopiedTable& t, const QStringList& source,
                          const QStringList& target) {
        QStringList lacking;
        for (qsizetype i = target.size(); i < source.size(); ++i) {
            if (t.notByPosition.contains(source[i])) continue;
            lacking << QStringLiteral("%1 (posição %2)").arg(source[i]).arg(i + 1);
        }
        if (lacking.isEmpty()) return;
        missing_ << QStringLiteral("- no %1: a tabela %2 tem %3 colunas e a do %4, %5; %6 %7")
                        .arg(kTargetSide, t.table)
                        .arg(target.size())
                        .arg(kSourceSide)
                        .arg(source.size())
                        .arg(lacking.size() == 1 ? QStringLiteral("falta a coluna")
                                                 : QStringLiteral("faltam as colunas"),
                             lacking.join(QStringLiteral(", ")));
    }

    const QStringList& missing() const { return missing_; }

private:
    QStringList missing_;
};

}  // namespace

void ImportRun::checkBeforePurge() {
    Check check;
    const bool source =
        check.connection(steps_.source, kSourceSide, QStringLiteral("Banco com as informações."));
    const bool target =
        check.connection(steps_.target, kTargetSide, QStringLiteral("Banco a ser atualizado."));
    // One database in both fields would be purged, then copied from its emptied self.
    if (source && target && sameDatabase(steps_.source, steps_.target)) {
        throw AppError(
            QStringLiteral("A importação não foi iniciada e nenhum banco foi alterado: os campos "
                           "\"Banco com as informações.\" e \"Banco a ser atualizado.\" levam "
                           "ao mesmo banco de dados (%1). A importação esvaziaria esse banco e "
                           "depois copiaria dele mesmo, já vazio. Escolha em \"Banco a ser "
                           "atualizado.\" o banco que deve receber os registros.")
                .arg(serverDatabaseName(steps_.target)));
    }
    const QString table = QStringLiteral("tabela");
    const QString view = QStringLiteral("visão");

    std::vector<std::optional<QStringList>> sourceColumns;
    for (const CopiedTable& t : copiedTables()) {
        sourceColumns.push_back(source ? check.columnsOf(steps_.source, kSourceSide, table, t.table)
                                       : std::nullopt);
    }
    if (source) {
        const QString& name = tables::VW_GORGAOUNIDADE;
        if (auto have = check.columnsOf(steps_.source, kSourceSide, view, name))
            check.requireColumns(*have, kViewColumns, kSourceSide, view, name);
    }
    if (target) {
        // Every table the purge empties, the copied ones among them.
        const std::vector<CopiedTable> copied = copiedTables();
        for (const QString& name : purgedTables()) {
            const std::optional<QStringList> have =
                check.columnsOf(steps_.target, kTargetSide, table, name);
            if (!have) continue;
            for (size_t k = 0; k < copied.size(); ++k) {
                if (copied[k].table == name && sourceColumns[k])
                    check.requirePositions(copied[k], *sourceColumns[k], *have);
            }
        }
        const QString& name = tables::GORGAOUNIDADE;
        if (auto have = check.columnsOf(steps_.target, kTargetSide, table, name))
            check.requireColumns(*have, kOrgUnitColumns, kTargetSide, table, name);
    }
    if (check.missing().isEmpty()) return;
    throw AppError(
        QStringLiteral("A importação não foi iniciada e o banco a ser atualizado não foi "
                       "alterado. Falta:\n") +
        check.missing().join(u'\n'));
}

}  // namespace patrimonio
