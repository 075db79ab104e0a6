// The purge of the target before an import: twelve tables emptied, children before parents.

#include <array>

#include "core/StatusConvention.h"
#include "runs/ImportRun.h"

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

}  // namespace

void ImportRun::SetTrataExclusoes() {
    for (const PurgeEntry& entry : kPurge) {
        host_.setStatus(QString::fromUtf16(entry.status));
        host_.pumpMessages();
        // A refused DELETE raises here and ends the run; the tables before it stay empty.
        data_.Con_Velho.ExecuteDirect(QString::fromLatin1(entry.statement));
        host_.pumpMessages();
        host_.pause(kPhasePauseMs);
    }
}

}  // namespace patrimonio
