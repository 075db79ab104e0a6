// The check before the purge: whatever the steps would miss on either side stops the run
// before the first DELETE, everything named in one message, the target untouched.

#include <gtest/gtest.h>

#include "QStringPrinter.h"
#include "RegisterPair.h"
#include "core/Errors.h"

namespace patrimonio::test {
namespace {

// Rows of the target's own that a purge would remove.
const QByteArray kTargetRows =
    "INSERT INTO PAT_TIPOBEM (TB_CODIGO, TB_DESCRICAO) VALUES (900, 'Antigo');\n"
    "INSERT INTO PAT_BAIXA (BAI_CODIGO, BEM_CODIGO) VALUES (1, 1);\n"
    "INSERT INTO GORGAOUNIDADE (CDORGUNI, NMORGUNI) VALUES (150, 'PREFEITURA');\n"
    "commit;\n";

const QString kSource = QStringLiteral("- no banco com as informações: ");
const QString kTarget = QStringLiteral("- no banco a ser atualizado: ");

struct CheckCase {
    const char* label;
    QByteArray sourceDdl;  // after the register schema and the view
    QByteArray targetDdl;  // after the register schema
    bool closeTarget;      // the target field's connection was closed (a failed edit)
    QStringList missing;   // the lines of the message after its first, in order
};

TEST(ImportCheck, AnythingMissingStopsTheRunBeforeThePurgeInOneMessage) {
    const CheckCase cases[] = {
        {"a source table", "DROP TABLE PAT_BAIXA;\n", {}, false, {kSource + "a tabela PAT_BAIXA"}},
        {"the source view",
         "DROP VIEW VW_GORGAOUNIDADE;\n",
         {},
         false,
         {kSource + "a visão VW_GORGAOUNIDADE"}},
        {"a column of the view",
         "DROP VIEW VW_GORGAOUNIDADE;\n"
         "CREATE VIEW VW_GORGAOUNIDADE (CDORGUNI, CDORG) AS "
         "SELECT CDORGUNI, CDORG FROM GORGAOUNIDADE;\n",
         {},
         false,
         {kSource + "a coluna CDUNI da visão VW_GORGAOUNIDADE"}},
        {"a target table only the purge touches",
         {},
         "DROP TABLE PAT_TRANSFERENCIA;\n",
         false,
         {kTarget + "a tabela PAT_TRANSFERENCIA"}},
        {"a short target table",
         {},
         "ALTER TABLE PAT_BAIXA DROP BAI_VALOR;\n",
         false,
         {kTarget + "a tabela PAT_BAIXA tem 5 colunas e a do banco com as informações, 6; "
                    "falta a coluna BAI_VALOR (posição 6)"}},
        {"a column the reserve rows name",
         {},
         "ALTER TABLE GORGAOUNIDADE DROP ORGAO_SICOM;\n",
         false,
         {kTarget + "a coluna ORGAO_SICOM da tabela GORGAOUNIDADE"}},
        {"no target connection",
         {},
         {},
         true,
         {"- a conexão com o banco a ser atualizado: escolha o banco no campo \"Banco a ser "
          "atualizado.\""}},
        {"all of it at once",
         "DROP TABLE PAT_BAIXA;\nDROP VIEW VW_GORGAOUNIDADE;\n",
         "DROP TABLE PAT_TRANSFERENCIA;\n"
         "ALTER TABLE PAT_TIPOBEM DROP TB_CONTA_CONTABIL;\n"
         "ALTER TABLE PAT_TIPOBEM DROP TB_VALOR_RESIDUAL;\n",
         false,
         {kSource + "a tabela PAT_BAIXA", kSource + "a visão VW_GORGAOUNIDADE",
          kTarget + "a tabela PAT_TRANSFERENCIA",
          kTarget + "a tabela PAT_TIPOBEM tem 4 colunas e a do banco com as informações, 6; "
                    "faltam as colunas TB_VALOR_RESIDUAL (posição 5), TB_CONTA_CONTABIL "
                    "(posição 6)"}},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.label);
        RegisterPair pair(c.sourceDdl, c.targetDdl);
        runIsql(kTargetRows, pair.targetPath);
        if (c.closeTarget) pair.data.Con_Velho.Close();

        try {
            pair.run.run();
            ADD_FAILURE() << "the run went on";
        } catch (const AppError& e) {
            QStringList lines = e.message().split(u'\n');
            EXPECT_EQ(lines.takeFirst(),
                      "A importação não foi iniciada e o banco a ser atualizado não foi "
                      "alterado. Falta:");
            EXPECT_EQ(lines.join(u'\n'), c.missing.join(u'\n'));
        }
        // Nothing was purged, nothing shown, nothing written.
        EXPECT_TRUE(pair.host.events.isEmpty()) << pair.host.events.join(u'\n').toStdString();
        EXPECT_EQ(pair.target("SELECT COUNT(*) FROM PAT_TIPOBEM"), QStringList{"1"});
        EXPECT_EQ(pair.target("SELECT COUNT(*) FROM PAT_BAIXA"), QStringList{"1"});
        EXPECT_EQ(pair.target("SELECT COUNT(*) FROM GORGAOUNIDADE"), QStringList{"1"});
        EXPECT_FALSE(pair.run.reportLogged());
    }
}

TEST(ImportCheck, TheAssetPhotoFoundByNameIsNoGapItsNameCopiedByPositionIs) {
    RegisterPair pair({},
                      "ALTER TABLE PAT_BEM DROP BEM_IMAGEM_NOME;\n"
                      "ALTER TABLE PAT_BEM DROP BEM_IMAGEM;\n");
    try {
        pair.run.checkBeforePurge();
        ADD_FAILURE() << "a target PAT_BEM without the photo columns passed";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().endsWith(
            "a tabela PAT_BEM tem 16 colunas e a do banco com as informações, 18; falta a "
            "coluna BEM_IMAGEM_NOME (posição 18)"))
            << e.message().toStdString();
    }
}

}  // namespace
}  // namespace patrimonio::test
