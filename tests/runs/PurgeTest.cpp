#include <gtest/gtest.h>

#include "RegisterPair.h"
#include "core/Errors.h"

namespace patrimonio::test {
namespace {

const QStringList kPurgeTexts = {"Excluindo baixas.",
                                 "Excluindo tranferências.",
                                 "Excluindo as reavaliações.",
                                 "Excluindo as depreciações.",
                                 "Excluindo as depreciações anuais.",
                                 "Excluindo BEM.",
                                 "Excluindo valores de bens.",
                                 "Excluindo as sub-localizações.",
                                 "Excluindo as localizações.",
                                 "Excluindo os responsáveis.",
                                 "Excluindo os tipos de bem.",
                                 "Excluindo os controles das depreciações."};

const QStringList kPurgeTables = {
    "PAT_BAIXA",       "PAT_TRANSFERENCIA",     "PAT_REAVALIACAO",
    "PAT_DEPRECIACAO", "PAT_DEPRECIACAO_ANUAL", "PAT_BEM",
    "PAT_BEM_VALOR",   "PAT_SUBLOCALIZACAO",    "PAT_LOCALIZACAO",
    "PAT_RESPONSAVEL", "PAT_TIPOBEM",           "PAT_DEPRECIACAO_CONTROLE"};

// A filled target: the generator fills the source register, which the purge then empties.
class Purge : public ::testing::Test {
protected:
    static QMap<QString, int> smallRegister() {
        return {{"PAT_RESPONSAVEL", 3},
                {"PAT_TIPOBEM", 2},
                {"PAT_LOCALIZACAO", 4},
                {"PAT_SUBLOCALIZACAO", 4},
                {"PAT_BEM_VALOR", 5},
                {"PAT_BEM", 5},
                {"PAT_DEPRECIACAO_CONTROLE", 2},
                {"PAT_DEPRECIACAO", 10},
                {"PAT_REAVALIACAO", 3},
                {"PAT_BAIXA", 2},
                {"PAT_TRANSFERENCIA", 2},
                {"PAT_DEPRECIACAO_ANUAL", 5}};
    }
};

TEST_F(Purge, EmptiesTwelveTablesInOrderWithTextsPumpsAndPauses) {
    RegisterPair pair;
    pair.generate(smallRegister());
    // Purge the source register itself: it is the filled one.
    DataModule filled;
    filled.Con_Velho.Params = Connection::editParams(kServerPrefix + pair.sourcePath);
    ImportRun run(filled, pair.counters, pair.host);
    const int organs = pair.source("SELECT COUNT(*) FROM GORGAOUNIDADE").value(0).toInt();

    run.SetTrataExclusoes();

    QStringList expected;
    for (const QString& text : kPurgeTexts) {
        expected << "status:" + text << "pump"
                 << "pump"
                 << "pause:1000";
    }
    EXPECT_EQ(pair.host.events, expected);
    for (const QString& table : kPurgeTables) {
        EXPECT_EQ(pair.source("SELECT COUNT(*) FROM " + table), QStringList{"0"})
            << table.toStdString();
    }
    EXPECT_EQ(pair.source("SELECT COUNT(*) FROM GORGAOUNIDADE").value(0).toInt(), organs);
    EXPECT_GT(organs, 0);
}

TEST_F(Purge, RefusedDeleteStopsThePurgeAndTheRun) {
    // A table the purge never empties still refers to a location, so entry 9 is refused.
    RegisterPair pair;
    pair.generate(smallRegister());
    runIsql(
        "CREATE TABLE PAT_INVENTARIO (INV_CODIGO INTEGER NOT NULL PRIMARY KEY, "
        "LOC_CODIGO INTEGER REFERENCES PAT_LOCALIZACAO (LOC_CODIGO));\ncommit;\n"
        "INSERT INTO PAT_INVENTARIO VALUES (1, 1);\ncommit;\n",
        pair.sourcePath);
    DataModule filled;
    filled.Con_Velho.Params = Connection::editParams(kServerPrefix + pair.sourcePath);
    ImportRun run(filled, pair.counters, pair.host);

    EXPECT_THROW(run.SetTrataExclusoes(), DatabaseError);

    EXPECT_EQ(pair.host.statuses(), kPurgeTexts.mid(0, 9));
    EXPECT_TRUE(pair.host.messages().isEmpty());
    for (int i = 0; i < kPurgeTables.size(); ++i) {
        const int rows = pair.source("SELECT COUNT(*) FROM " + kPurgeTables[i]).value(0).toInt();
        if (i < 8) {
            EXPECT_EQ(rows, 0) << kPurgeTables[i].toStdString();
        } else {
            EXPECT_GT(rows, 0) << kPurgeTables[i].toStdString();
        }
    }
}

}  // namespace
}  // namespace patrimonio::test
