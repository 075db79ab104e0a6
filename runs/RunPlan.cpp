#include "runs/RunPlan.h"

#include <QStringList>

#include "core/Errors.h"
#include "db/RecordSet.h"
#include "db/TableNames.h"
#include "runs/PhotoBatches.h"
#include "runs/StepContext.h"

namespace patrimonio {

namespace {

// The asset step reads PAT_BEM in pages of this many rows, each after its pause.
constexpr std::int64_t kAssetPageRows = 100;

// A table's rows, the stored photos among them and their bytes, in one walk of the rows. A
// photo of no bytes is no photo, as for the runs. Each OCTET_LENGTH written costs a look at
// every photo's header (the server evaluates it where it stands), so it is written twice,
// the least that gives both counts.
QString photoCounts(const QString& filter) {
    return QStringLiteral(
               "SELECT COUNT(*) AS N, "
               "COALESCE(SUM(SIGN(OCTET_LENGTH(BEM_IMAGEM))), 0) AS PHOTOS, "
               "COALESCE(SUM(OCTET_LENGTH(BEM_IMAGEM)), 0) AS BYTES FROM PAT_BEM") +
           (filter.isEmpty() ? QString() : u' ' + filter);
}

std::int64_t whole(RecordSet& rs, int column) {
    return rs.Fields(column).AsVariant().toBytes().trimmed().toLongLong();
}

// Opens the one-row statement on the connection (connecting it when needed).
void openCounts(RecordSet& rs, const QString& sql) {
    rs.setCommandText(sql);
    rs.Open();
    if (rs.Eof()) throw AppError(QStringLiteral("A contagem não devolveu nenhuma linha: ") + sql);
}

}  // namespace

const std::vector<QString>& copiedTables() {
    static const std::vector<QString> names{
        tables::PAT_RESPONSAVEL,    tables::PAT_TIPOBEM,     tables::PAT_LOCALIZACAO,
        tables::PAT_SUBLOCALIZACAO, tables::PAT_BEM,         tables::PAT_DEPRECIACAO_CONTROLE,
        tables::PAT_DEPRECIACAO,    tables::PAT_REAVALIACAO, tables::PAT_BAIXA};
    return names;
}

std::int64_t ImportPlan::rows() const {
    std::int64_t sum = 0;
    for (const TableRows& t : tables) sum += t.rows;
    return sum;
}

std::int64_t ImportPlan::rowsOf(const QString& table) const {
    for (const TableRows& t : tables) {
        if (t.table == table) return t.rows;
    }
    return 0;
}

RunWork ImportPlan::work() const {
    RunWork w;
    w.rows = rows();
    w.photoBytes = photoBytes;
    w.pauses = purgedTables().size();
    for (const TableRows& t : tables) {
        w.pauses += t.table == tables::PAT_BEM ? t.rows / kAssetPageRows + 1 : 1;
    }
    return w;
}

ImportPlan planImport(Connection& source) {
    QStringList columns;
    for (const QString& table : copiedTables()) {
        columns << (table == tables::PAT_BEM
                        ? QStringLiteral("B.N")
                        : QStringLiteral("(SELECT COUNT(*) FROM %1)").arg(table));
    }
    columns << QStringLiteral("B.PHOTOS") << QStringLiteral("B.BYTES");
    RecordSet rs(source);
    openCounts(rs, QStringLiteral("SELECT ") + columns.join(QStringLiteral(", ")) +
                       QStringLiteral(" FROM (") + photoCounts({}) + QStringLiteral(") B"));
    ImportPlan plan;
    int column = 0;
    for (const QString& table : copiedTables()) plan.tables.push_back({table, whole(rs, column++)});
    plan.photos = whole(rs, column++);
    plan.photoBytes = whole(rs, column);
    return plan;
}

RunWork PhotoPassPlan::work() const {
    return RunWork{rows, photoBytes, rows / kPhotoBatchSize + 1};
}

PhotoPassPlan planPhotoPass(Connection& con, const QString& skipList) {
    if (!isValidSkipList(skipList)) {
        throw AppError(QStringLiteral("Os códigos dos bens a serem ignorados não são números "
                                      "inteiros separados por vírgulas: ") +
                       skipList);
    }
    RecordSet rs(con);
    openCounts(rs, photoCounts(skipFilter(skipList)));
    return PhotoPassPlan{whole(rs, 0), whole(rs, 1), whole(rs, 2)};
}

}  // namespace patrimonio
