#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "RegisterPair.h"
#include "core/Errors.h"

namespace patrimonio::test {
namespace {

using Step = void (ImportRun::*)();

// ---- Cadences with a refused row -----------------------------------------------------------

struct RefusalCase {
    const char* name;
    const char* table;
    const char* key;
    Step step;
    int rows;
    QList<int> refusedIndexes;
    // Rows the target holds when the row of that index has been handled (counter steps).
    QList<QPair<int, int>> checkpoints;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class PlainCopyStepsRefusedRow : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(PlainCopyStepsRefusedRow, RefusedRowIsLoggedAndDroppedWhileTheOthersAreWritten) {
    const RefusalCase& c = GetParam();
    const QString table = QString::fromLatin1(c.table);
    const QString key = QString::fromLatin1(c.key);
    QStringList refusedKeys;
    for (int index : c.refusedIndexes) refusedKeys << QString::number(index + 1);
    const int refused = int(refusedKeys.size());
    RegisterPair pair(
        {}, QStringLiteral("ALTER TABLE %1 ADD CONSTRAINT CK_RECUSA CHECK (%2 NOT IN (%3));\n")
                .arg(table, key, refusedKeys.join(", "))
                .toLatin1());
    pair.generate({{table, c.rows}});

    int pumps = 0;
    QList<QPair<int, int>> seen;
    pair.host.onPump = [&] {
        const int row = pumps++ - 1;  // the first pump is the step's opening
        for (const auto& [index, expected] : c.checkpoints) {
            if (index == row) seen << qMakePair(row, pair.targetCount(table));
        }
    };
    (pair.run.*c.step)();

    EXPECT_EQ(seen, c.checkpoints);
    EXPECT_EQ(pair.targetCount(table), c.rows - refused);
    EXPECT_EQ(pair.target(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2 IN (%3)")
                              .arg(table, key, refusedKeys.join(", "))),
              QStringList{"0"});
    const QStringList logged = pair.host.eventsWith("log:");
    ASSERT_EQ(logged.size(), refused);
    for (int k = 0; k < refused; ++k) {
        EXPECT_TRUE(logged[k].startsWith(
            QStringLiteral("Registro recusado em %1, chave %2: ").arg(table, refusedKeys[k])))
            << logged[k].toStdString();
        EXPECT_TRUE(logged[k].contains("CK_RECUSA")) << logged[k].toStdString();
    }
    EXPECT_EQ(pair.host.statuses().last(), "Aguardando...");
    const TableTally& tally = pair.run.report().tables().front();
    EXPECT_EQ(tally.read, c.rows);
    EXPECT_EQ(tally.written, c.rows - refused);
    EXPECT_EQ(tally.refused, refused);
}

INSTANTIATE_TEST_SUITE_P(
    Cadences, PlainCopyStepsRefusedRow,
    ::testing::Values(
        // Every 500 rows: row 0 alone, then 1-500, 501-1000, and 1001-1199 after the loop.
        RefusalCase{"Depreciation730",
                    "PAT_DEPRECIACAO",
                    "DEP_CODIGO",
                    &ImportRun::SetImport_Depreciacao,
                    1200,
                    {730},
                    {{0, 1}, {499, 1}, {500, 501}, {999, 501}, {1000, 1000}, {1199, 1000}}},
        // Several refused rows in one write-back, its last row included.
        RefusalCase{"DepreciationThreeInOneBatch",
                    "PAT_DEPRECIACAO",
                    "DEP_CODIGO",
                    &ImportRun::SetImport_Depreciacao,
                    700,
                    {1, 250, 500},
                    {{0, 1}, {500, 498}, {699, 498}}},
        RefusalCase{"RevaluationFirstRow",
                    "PAT_REAVALIACAO",
                    "REA_CODIGO",
                    &ImportRun::SetImport_PatReavaliacao,
                    600,
                    {0},
                    {{0, 0}, {500, 500}, {599, 500}}},
        RefusalCase{"Responsible3",
                    "PAT_RESPONSAVEL",
                    "RES_CODIGO",
                    &ImportRun::SetImport_Responsaveis,
                    10,
                    {3},
                    {}},
        RefusalCase{"WriteOff1",
                    "PAT_BAIXA",
                    "BAI_CODIGO",
                    &ImportRun::SetImport_PatBaixas,
                    5,
                    {1},
                    {{0, 1}, {1, 1}, {2, 2}, {4, 4}}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// ---- Status texts and row counter ----------------------------------------------------------

TEST(PlainCopySteps, CounterStepShowsRangeAndRowCounterButNotForTheLastRow) {
    RegisterPair pair;
    pair.generate({{"PAT_BAIXA", 3}});
    pair.host.gauge.setMaximum(10);
    pair.host.gauge.setProgress(7);
    pair.host.events.clear();

    pair.run.SetImport_PatBaixas();

    const QStringList expected = {"status:Importando as Baixas.",
                                  "pump",
                                  "pause:1000",
                                  "gauge-min:0",
                                  "gauge-max:3",
                                  "work:0 de 3",
                                  "pump",
                                  "work:1 de 3",
                                  "pump",
                                  "pump",
                                  "status:Aguardando..."};
    EXPECT_EQ(pair.host.events, expected);
    EXPECT_EQ(pair.targetCount("PAT_BAIXA"), 3);
}

TEST(PlainCopySteps, StepsWithoutCounterOnlyOpenAndClose) {
    struct Case {
        Step step;
        const char* table;
        const char* status;
    };
    const Case cases[] = {
        {&ImportRun::SetImport_Responsaveis, "PAT_RESPONSAVEL", "Importando os responsáveis."},
        {&ImportRun::SetImport_TipoBEM, "PAT_TIPOBEM", "Importando os tipos de BEM."},
        {&ImportRun::SetImport_Depreciacao_Controle, "PAT_DEPRECIACAO_CONTROLE",
         "Importando os controles das depreciações."},
    };
    RegisterPair pair;
    pair.generate({{"PAT_RESPONSAVEL", 4}, {"PAT_TIPOBEM", 3}, {"PAT_DEPRECIACAO_CONTROLE", 5}});
    for (const Case& c : cases) {
        pair.host.events.clear();
        (pair.run.*c.step)();
        const QStringList expected = {QStringLiteral("status:") + QString::fromUtf8(c.status),
                                      "pump", "pause:1000", "status:Aguardando..."};
        EXPECT_EQ(pair.host.events, expected) << c.table;
        EXPECT_EQ(pair.target(QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(c.table)),
                  pair.source(QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(c.table)))
            << c.table;
    }
}

TEST(PlainCopySteps, EmptySourceTableSetsRangeZeroAndLeavesTheCounter) {
    RegisterPair pair;
    pair.host.setWork("5 de 9");
    pair.host.events.clear();
    pair.run.SetImport_Depreciacao();
    const QStringList expected = {"status:Importando as depreciações.",
                                  "pump",
                                  "pause:1000",
                                  "gauge-min:0",
                                  "gauge-max:0",
                                  "status:Aguardando..."};
    EXPECT_EQ(pair.host.events, expected);
}

// ---- Column pairing ------------------------------------------------------------------------

TEST(PlainCopySteps, BvCodigoIsSkippedOnlyByItsExactNameAndOnlyWhereTheStepSkipsIt) {
    const QByteArray ddl =
        "CREATE TABLE PAT_DEPRECIACAO (DEP_CODIGO INTEGER NOT NULL PRIMARY KEY, BV_CODIGO INTEGER, "
        "\"Bv_Codigo\" INTEGER, BV_CODIGO_ANTIGO INTEGER, XBV_CODIGO INTEGER);\n"
        "CREATE TABLE PAT_BAIXA (BAI_CODIGO INTEGER NOT NULL PRIMARY KEY, BV_CODIGO INTEGER);\n";
    RegisterPair pair = RegisterPair::custom(ddl, ddl);
    runIsql(
        "INSERT INTO PAT_DEPRECIACAO VALUES (1, 7, 8, 9, 10);\n"
        "INSERT INTO PAT_BAIXA VALUES (1, 7);\ncommit;\n",
        pair.sourcePath);

    pair.run.SetImport_Depreciacao();
    pair.run.SetImport_PatBaixas();

    EXPECT_EQ(pair.target("SELECT * FROM PAT_DEPRECIACAO"), QStringList{"1|<null>|8|9|10"});
    EXPECT_EQ(pair.target("SELECT * FROM PAT_BAIXA"), QStringList{"1|7"});
}

TEST(PlainCopySteps, ColumnsArePairedByPositionWhateverTheirNames) {
    // The target's second and third columns stand in the other order; a fourth column of its
    // own takes its default.
    RegisterPair pair = RegisterPair::custom(
        "CREATE TABLE PAT_TIPOBEM (TB_CODIGO INTEGER NOT NULL PRIMARY KEY, "
        "TB_DESCRICAO VARCHAR(60), TB_CONTA VARCHAR(20));\n",
        "CREATE TABLE PAT_TIPOBEM (TB_CODIGO INTEGER NOT NULL PRIMARY KEY, "
        "TB_CONTA VARCHAR(60), TB_DESCRICAO VARCHAR(20), TB_ATIVO CHAR(1) DEFAULT 'S');\n");
    runIsql("INSERT INTO PAT_TIPOBEM VALUES (1, 'Veiculos', '1.2.3');\ncommit;\n", pair.sourcePath);

    pair.run.SetImport_TipoBEM();

    EXPECT_EQ(pair.target("SELECT TB_CODIGO, TB_CONTA, TB_DESCRICAO, TB_ATIVO FROM PAT_TIPOBEM"),
              QStringList{"1|Veiculos|1.2.3|S"});
}

TEST(PlainCopySteps, TargetWithFewerColumnsEndsTheStepNamingTheColumn) {
    RegisterPair pair = RegisterPair::custom(
        "CREATE TABLE PAT_TIPOBEM (TB_CODIGO INTEGER NOT NULL PRIMARY KEY, "
        "TB_DESCRICAO VARCHAR(60), TB_CONTA VARCHAR(20));\n",
        "CREATE TABLE PAT_TIPOBEM (TB_CODIGO INTEGER NOT NULL PRIMARY KEY, "
        "TB_DESCRICAO VARCHAR(60));\n");
    runIsql("INSERT INTO PAT_TIPOBEM VALUES (1, 'Veiculos', '1.2.3');\ncommit;\n", pair.sourcePath);

    try {
        pair.run.SetImport_TipoBEM();
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().contains("TB_CONTA")) << e.what();
        EXPECT_TRUE(e.message().contains("PAT_TIPOBEM")) << e.what();
    }
    EXPECT_EQ(pair.targetCount("PAT_TIPOBEM"), 0);
}

TEST(PlainCopySteps, AccentedTextArrivesByteForByte) {
    RegisterPair pair;
    // WIN1252 bytes in a WIN1252 column and in a NONE column, a text BLOB and money.
    const QByteArray name = "Jo\xE3o Concei\xE7\xE3o Ara\xFAjo \x93\x80\x94";
    const QByteArray cargo =
        "Secret\xE1rio de Sa\xFA"
        "de";
    runIsql("INSERT INTO PAT_RESPONSAVEL VALUES (1, '" + name + "', '123', '" + cargo +
                "', 'M1', 'S', '2010-01-02 03:04:05.0006');\n"
                "INSERT INTO PAT_TIPOBEM VALUES (1, 'Im\xF3veis', 25, 4.17, 10.00, '1.2');\n"
                "commit;\n",
            pair.sourcePath);

    pair.run.SetImport_Responsaveis();
    pair.run.SetImport_TipoBEM();

    for (const char* table : {"PAT_RESPONSAVEL", "PAT_TIPOBEM"}) {
        const QString sql = QStringLiteral("SELECT * FROM %1").arg(table);
        EXPECT_EQ(pair.target(sql), pair.source(sql)) << table;
    }
    EXPECT_EQ(pair.target("SELECT RES_NOME FROM PAT_RESPONSAVEL"),
              QStringList{QString::fromLatin1(name)});
}

}  // namespace
}  // namespace patrimonio::test
