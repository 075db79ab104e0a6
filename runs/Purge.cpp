// The purge of the target before an import: twelve tables emptied, children before parents.

#include <array>

#include "core/StatusConvention.h"
#include "runs/StepContext.h"

namespace patrimonio {

namespace {

struct PurgeEntry {
    const char16_t* status;
    const char* statement;
};

constexpr std::array<PurgeEntry, 12> kPurge{{
    {u"Excluindo baixas.", "DELETE FROM PAT_BAIXA"},
    {u"Excluindo tranferências.", "DELETE FROM PAT_TRANSFERENCIA"},
    {u"Excluindo as reavaliações.", "DELETE FROM PAT_REAVALIACAO"},
    {u"Excluindo as depreciações.", "DELETE FROM PAT_DEPRECIACAO"},
    {u"Excluindo as depreciações anuais.", "DELETE FROM PAT_DEPRECIACAO_ANUAL"},
    {u"Excluindo BEM.", "DELETE FROM PAT_BEM"},
    {u"Excluindo valores de bens.", "DELETE FROM PAT_BEM_VALOR"},
    {u"Excluindo as sub-localizações.", "DELETE FROM PAT_SUBLOCALIZACAO"},
    {u"Excluindo as localizações.", "DELETE FROM PAT_LOCALIZACAO"},
    {u"Excluindo os responsáveis.", "DELETE FROM PAT_RESPONSAVEL"},
    {u"Excluindo os tipos de bem.", "DELETE FROM PAT_TIPOBEM"},
    {u"Excluindo os controles das depreciações.", "DELETE FROM PAT_DEPRECIACAO_CONTROLE"},
}};

QString tableOf(const PurgeEntry& entry) {
    const QString statement = QString::fromLatin1(entry.statement);
    return statement.mid(statement.lastIndexOf(u' ') + 1);
}

}  // namespace

QStringList purgedTables() {
    QStringList names;
    for (const PurgeEntry& entry : kPurge) names << tableOf(entry);
    return names;
}

void purgeTarget(StepContext& step, bool& purgeBegun) {
    int emptied = 0;
    for (const PurgeEntry& entry : kPurge) {
        step.host.setStatus(QString::fromUtf16(entry.status));
        step.host.pumpMessages();
        const QString statement = QString::fromLatin1(entry.statement);
        // A stop asked for while the status was painted is honoured before the next DELETE.
        step.stopPoint(emptied == 0
                           ? QStringLiteral("antes da exclusão: o banco a ser atualizado não foi "
                                            "alterado")
                           : QStringLiteral("durante a exclusão, antes de esvaziar %1: %2 de %3 "
                                            "tabelas esvaziadas, nada foi importado")
                                 .arg(tableOf(entry))
                                 .arg(emptied)
                                 .arg(kPurge.size()));
        // A refused DELETE raises here and ends the run; the tables before it stay empty.
        step.target.ExecuteDirect(statement);
        purgeBegun = true;
        ++emptied;
        step.host.pumpMessages();
        step.host.pause(kPhasePauseMs);
    }
}

}  // namespace patrimonio
