#include <gtest/gtest.h>

#include "RegisterPair.h"
#include "core/Errors.h"
#include "core/LogView.h"

namespace patrimonio::test {
namespace {

const QStringList kCopiedTables = {
    "PAT_RESPONSAVEL",          "PAT_TIPOBEM",     "PAT_LOCALIZACAO", "PAT_SUBLOCALIZACAO",
    "PAT_DEPRECIACAO_CONTROLE", "PAT_DEPRECIACAO", "PAT_REAVALIACAO", "PAT_BAIXA"};

TEST(ImportRun, WholeRunCopiesTheRegisterReportsAndCountsRefusedRows) {
    // The target refuses one write-off; it keeps rows of its own that the purge removes.
    RegisterPair pair({},
                      "ALTER TABLE PAT_BAIXA ADD CONSTRAINT CK_RECUSA CHECK (BAI_CODIGO <> 2);\n");
    pair.generate({}, true);
    runIsql("INSERT INTO PAT_TIPOBEM (TB_CODIGO, TB_DESCRICAO) VALUES (900, 'Antigo');\ncommit;\n",
            pair.targetPath);
    const int organs = pair.targetCount("GORGAOUNIDADE");
    // The phase each step opens with, in the order first seen, and the target's organs and
    // units as each phase opens (the reserve rows are the second step, without a text).
    QStringList phases;
    QList<int> organsAtPhase;
    pair.host.onPump = [&] {
        const QStringList& events = pair.host.events;
        QString status;
        for (qsizetype i = events.size() - 1; i >= 0 && status.isEmpty(); --i) {
            if (events[i].startsWith("status:")) status = events[i].mid(7);
        }
        if (!status.startsWith("Importando") || status == "Importando Bem." ||
            phases.contains(status))
            return;
        phases << status;
        organsAtPhase << pair.targetCount("GORGAOUNIDADE");
    };

    pair.run.run();

    // The ten steps in their order.
    EXPECT_EQ(phases,
              (QStringList{"Importando os responsáveis.", "Importando os tipos de BEM.",
                           "Importando as localizações.", "Importando as sub-localizações.",
                           "Importando os bens.", "Importando os controles das depreciações.",
                           "Importando as depreciações.", "Importando as Reavaliações.",
                           "Importando as Baixas."}));
    EXPECT_EQ(organsAtPhase, (QList<int>{organs, organs + 2, organs + 2, organs + 2, organs + 2,
                                         organs + 2, organs + 2, organs + 2, organs + 2}));

    for (const QString& table : kCopiedTables) {
        const QString sql = QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(table);
        if (table == "PAT_LOCALIZACAO" || table == "PAT_BAIXA") continue;
        EXPECT_EQ(pair.target(sql).size(), pair.source(sql).size()) << table.toStdString();
    }
    EXPECT_EQ(pair.target("SELECT COUNT(*) FROM PAT_TIPOBEM WHERE TB_CODIGO = 900"),
              QStringList{"0"});
    EXPECT_EQ(pair.targetCount("PAT_BAIXA"),
              pair.source("SELECT COUNT(*) FROM PAT_BAIXA").value(0).toInt() - 1);
    // Depreciations and revaluations arrive without their asset-value reference.
    EXPECT_EQ(pair.target("SELECT COUNT(*) FROM PAT_DEPRECIACAO WHERE BV_CODIGO IS NOT NULL"),
              QStringList{"0"});
    EXPECT_EQ(pair.target("SELECT COUNT(*) FROM PAT_REAVALIACAO WHERE BV_CODIGO IS NOT NULL"),
              QStringList{"0"});
    EXPECT_EQ(pair.targetCount("GORGAOUNIDADE"), organs + 2);
    // Source key 1 (organ 1, unit 1) is key 151 in the target; location 3 has no organ/unit
    // and location 15 one the target lacks.
    EXPECT_EQ(pair.target("SELECT LOC_CODIGO, CDORGUNI FROM PAT_LOCALIZACAO WHERE LOC_CODIGO IN "
                          "(1, 3, 15) ORDER BY 1"),
              (QStringList{"1|151", "3|<null>", "15|<null>"}));

    QStringList log = pair.host.eventsWith("log:");
    // First where the copy of the target is and how to restore it.
    ASSERT_GE(log.size(), 3);
    ASSERT_TRUE(pair.run.targetCopy().has_value());
    EXPECT_TRUE(log[0].startsWith("Cópia do banco a ser atualizado, salva antes da exclusão: " +
                                  pair.run.targetCopy()->path))
        << log[0].toStdString();
    EXPECT_TRUE(log[1].contains("gbak -c ")) << log[1].toStdString();
    log = log.mid(2);
    EXPECT_TRUE(log[0].startsWith("Registro recusado em PAT_BAIXA, chave 2: "))
        << log[0].toStdString();
    // Each copied table with the rows the target holds at the end, as counted there.
    for (const char* line :
         {"PAT_RESPONSAVEL: 12 lidos, 12 gravados, 0 recusados; 12 no banco a ser atualizado",
          "PAT_TIPOBEM: 10 lidos, 10 gravados, 0 recusados; 10 no banco a ser atualizado",
          "PAT_LOCALIZACAO: 15 lidos, 15 gravados, 0 recusados; 15 no banco a ser atualizado",
          "PAT_SUBLOCALIZACAO: 30 lidos, 30 gravados, 0 recusados; 30 no banco a ser atualizado",
          "PAT_DEPRECIACAO_CONTROLE: 24 lidos, 24 gravados, 0 recusados; 24 no banco a ser "
          "atualizado",
          "PAT_DEPRECIACAO: 240 lidos, 240 gravados, 0 recusados; 240 no banco a ser atualizado",
          "PAT_REAVALIACAO: 20 lidos, 20 gravados, 0 recusados; 20 no banco a ser atualizado",
          "PAT_BAIXA: 8 lidos, 7 gravados, 1 recusados; 7 no banco a ser atualizado"}) {
        EXPECT_TRUE(log.contains(QString::fromUtf8(line))) << line;
    }
    // The report ends with a line break of its own, so what follows starts a new line.
    EXPECT_EQ(log[log.size() - 2], "Localizações sem órgão/unidade traduzido: 2");
    EXPECT_EQ(log.last(), QString());
    EXPECT_TRUE(pair.host.log.endsWith("traduzido: 2\n"));
    appendLogCode(pair.host, "12");
    EXPECT_TRUE(pair.host.log.endsWith("traduzido: 2\n12"));
    // The window then enables BtnLOG and shows the completion message for the refused rows.
    EXPECT_TRUE(pair.run.reportLogged());
    EXPECT_TRUE(pair.run.report().warnings.isEmpty());
    EXPECT_EQ(ImportRun::completionMessage(pair.run.report().refusedRows()),
              "Importação concluída.\n1 registro foi recusado pelo banco de destino e "
              "está listado no log.");
    EXPECT_EQ(pair.host.statuses().last(), "Aguardando...");
}

TEST(ImportRun, ATargetThatEndsWithOtherCountsThanTheRunWroteIsAWarning) {
    // A trigger of the target adds a responsible person of its own when the first asset type
    // arrives: PAT_RESPONSAVEL ends with one row that the run neither read nor wrote.
    RegisterPair pair({},
                      "SET TERM ^ ;\n"
                      "CREATE TRIGGER PAT_TIPOBEM_EXTRA FOR PAT_TIPOBEM AFTER INSERT AS\n"
                      "BEGIN IF (NEW.TB_CODIGO = 1) THEN INSERT INTO PAT_RESPONSAVEL (RES_CODIGO, "
                      "RES_NOME) VALUES (9999, 'Extra'); END^\n"
                      "SET TERM ; ^\n");
    pair.generate({}, true);

    pair.run.run();

    const QString warning =
        "Atenção: PAT_RESPONSAVEL tem 13 registros no banco a ser atualizado, e não os 12 "
        "esperados (12 lidos, 0 recusados).";
    EXPECT_EQ(pair.run.report().warnings, QStringList{warning});
    EXPECT_TRUE(pair.host.eventsWith("log:").contains(warning));
    EXPECT_EQ(
        ImportRun::completionMessage(pair.run.report().refusedRows(), pair.run.report().warnings),
        "Importação concluída.\n" + warning);
}

TEST(ImportRun, CompletionMessageNamesTheRefusedRowsOnlyWhenThereAreSome) {
    EXPECT_EQ(ImportRun::completionMessage(0), "Importação concluída.");
    EXPECT_EQ(ImportRun::completionMessage(3),
              "Importação concluída.\n3 registros foram recusados pelo banco de destino e estão "
              "listados no log.");
}

TEST(ImportRun, ErrorInAStepEndsTheRunWithoutCompletionButWithTheReport) {
    // Step 3 cannot read its source: a computed column fails for every row, which the check
    // before the purge, reading no row, does not meet.
    RegisterPair pair({}, "ALTER TABLE PAT_TIPOBEM ADD BOOM INTEGER;\n");
    pair.generate({{"PAT_RESPONSAVEL", 2}, {"PAT_TIPOBEM", 2}, {"PAT_BAIXA", 0}});
    runIsql("ALTER TABLE PAT_TIPOBEM ADD BOOM COMPUTED BY (1 / 0);\ncommit;\n", pair.sourcePath);

    EXPECT_THROW(pair.run.run(), DatabaseError);

    EXPECT_TRUE(pair.host.messages().isEmpty());
    ASSERT_FALSE(pair.host.statuses().isEmpty());
    EXPECT_EQ(pair.host.statuses().last(), "Importando os tipos de BEM.");
    EXPECT_EQ(pair.targetCount("PAT_RESPONSAVEL"), 2);
    EXPECT_TRUE(
        pair.host.eventsWith("log:").contains("PAT_RESPONSAVEL: 2 lidos, 2 gravados, 0 recusados"));
}

}  // namespace
}  // namespace patrimonio::test
