#include <gtest/gtest.h>

#include "RegisterPair.h"
#include "core/Errors.h"

namespace patrimonio::test {
namespace {

// Source organs/units: key 17 is organ 2 unit 5, key 18 organ 3 unit 1 (absent from the
// target), key 19 organ 0 unit 0. Target: organ 2 unit 5 is 40; organ 0 unit 0 is 77.
const QByteArray kSourceOrgans =
    "INSERT INTO GORGAOUNIDADE (CDORGUNI, CDORG, CDUNI) VALUES (17, 2, 5);\n"
    "INSERT INTO GORGAOUNIDADE (CDORGUNI, CDORG, CDUNI) VALUES (18, 3, 1);\n"
    "INSERT INTO GORGAOUNIDADE (CDORGUNI, CDORG, CDUNI) VALUES (40, 9, 9);\n";
const QByteArray kTargetOrgans =
    "INSERT INTO GORGAOUNIDADE (CDORGUNI, CDORG, CDUNI) VALUES (40, 2, 5);\n"
    "INSERT INTO GORGAOUNIDADE (CDORGUNI, CDORG, CDUNI) VALUES (17, 4, 4);\n";

// Organs and units with only the columns the lookups use, and the source's view over them.
QByteArray sourceOrgansOnly() {
    return "CREATE TABLE GORGAOUNIDADE (CDORGUNI INTEGER NOT NULL PRIMARY KEY, NMORGUNI "
           "VARCHAR(80), CDORG INTEGER, CDUNI INTEGER, INABILITADO CHAR(1));\n" +
           sourceViewDdl() + kSourceOrgans;
}
const QByteArray kTargetOrgansOnly =
    "CREATE TABLE GORGAOUNIDADE (CDORGUNI INTEGER NOT NULL PRIMARY KEY, CDORG INTEGER, "
    "CDUNI INTEGER);\n" +
    kTargetOrgans;

const QString kLocations =
    "SELECT LOC_CODIGO, LOC_DESCRICAO, CDORGUNI FROM PAT_LOCALIZACAO ORDER BY 1";

TEST(LocationStep, TranslatesTheOrganUnitKeyThroughTheSharedCodes) {
    // A dangling key (99, unknown to the source's view) needs the check off, as in registers
    // migrated from older versions.
    RegisterPair pair(
        kSourceOrgans + "ALTER TABLE PAT_LOCALIZACAO DROP CONSTRAINT FK_LOCALIZACAO_ORGUNI;\n",
        kTargetOrgans);
    runIsql(
        "INSERT INTO PAT_LOCALIZACAO (LOC_CODIGO, LOC_DESCRICAO, CDORGUNI) VALUES "
        "(1, 'Pr\xE9"
        "dio sede', 17);\n"
        "INSERT INTO PAT_LOCALIZACAO (LOC_CODIGO, LOC_DESCRICAO, CDORGUNI) VALUES (2, 'Sem org', "
        "NULL);\n"
        "INSERT INTO PAT_LOCALIZACAO (LOC_CODIGO, LOC_DESCRICAO, CDORGUNI) VALUES (3, 'Par "
        "ausente', 18);\n"
        "INSERT INTO PAT_LOCALIZACAO (LOC_CODIGO, LOC_DESCRICAO, CDORGUNI) VALUES (4, 'Outra', "
        "40);\n"
        "INSERT INTO PAT_LOCALIZACAO (LOC_CODIGO, LOC_DESCRICAO, CDORGUNI) VALUES (5, 'Chave "
        "desconhecida', 99);\n"
        "commit;\n",
        pair.sourcePath);

    pair.run.SetImport_Localizacao();

    // 1: 17 -> (2, 5) -> 40. 2: null -> key 0 -> (0, 0), which the target lacks -> null.
    // 3: 18 -> (3, 1), which the target lacks -> null. 4: 40 -> (9, 9) -> null.
    // 5: 99 unknown to the view -> (0, 0) -> null.
    EXPECT_EQ(pair.target(kLocations),
              (QStringList{QString::fromLatin1("1|Pr\xE9"
                                               "dio sede|40"),
                           "2|Sem org|<null>", "3|Par ausente|<null>", "4|Outra|<null>",
                           "5|Chave desconhecida|<null>"}));
    EXPECT_EQ(pair.run.report().untranslatedLocations, 4);
    const QStringList expected = {"status:Importando as localizações.", "pump", "pause:1000",
                                  "status:Aguardando..."};
    EXPECT_EQ(pair.host.events, expected);
}

TEST(LocationStep, BlankKeyAndUnknownKeyLookUpOrganZeroUnitZero) {
    // Keys as text, as some registers keep them: blanks around digits are used as read.
    const QByteArray locations =
        "CREATE TABLE PAT_LOCALIZACAO (LOC_CODIGO INTEGER NOT NULL PRIMARY KEY, CDORGUNI "
        "VARCHAR(10), "
        "\"CdOrgUni\" VARCHAR(10), XCDORGUNI VARCHAR(10));\n";
    RegisterPair pair = RegisterPair::custom(
        sourceOrgansOnly() + locations,
        kTargetOrgansOnly +
            "INSERT INTO GORGAOUNIDADE VALUES (77, 0, 0);\n"
            "CREATE TABLE PAT_LOCALIZACAO (LOC_CODIGO INTEGER NOT NULL PRIMARY KEY, "
            "CDORGUNI INTEGER, C2 VARCHAR(10), C3 VARCHAR(10));\n");
    runIsql(
        "INSERT INTO PAT_LOCALIZACAO VALUES (1, ' 17 ', '17', '17');\n"
        "INSERT INTO PAT_LOCALIZACAO VALUES (2, '   ', 'x', 'y');\n"
        "INSERT INTO PAT_LOCALIZACAO VALUES (3, '', NULL, NULL);\n"
        "INSERT INTO PAT_LOCALIZACAO VALUES (4, '55', NULL, NULL);\n"
        // Non-breaking spaces around the number: the number alone goes into the lookup.
        "INSERT INTO PAT_LOCALIZACAO VALUES (5, '\xA0"
        "17\xA0', NULL, NULL);\n"
        "commit;\n",
        pair.sourcePath);

    pair.run.SetImport_Localizacao();

    // Only the column named exactly CDORGUNI is translated.
    EXPECT_EQ(pair.target("SELECT * FROM PAT_LOCALIZACAO ORDER BY 1"),
              (QStringList{"1|40|17|17", "2|77|x|y", "3|77|<null>|<null>", "4|77|<null>|<null>",
                           "5|40|<null>|<null>"}));
    EXPECT_EQ(pair.run.report().untranslatedLocations, 0);
}

TEST(LocationStep, KeyThatIsNotAWholeNumberEndsTheRunNamingLocationAndValue) {
    const QByteArray locations =
        "CREATE TABLE PAT_LOCALIZACAO (LOC_CODIGO INTEGER NOT NULL PRIMARY KEY, CDORGUNI "
        "VARCHAR(40));\n";
    RegisterPair pair =
        RegisterPair::custom(sourceOrgansOnly() + locations, kTargetOrgansOnly + locations);
    runIsql(
        "INSERT INTO PAT_LOCALIZACAO VALUES (1, '17');\n"
        "INSERT INTO PAT_LOCALIZACAO VALUES (2, '0 OR 1=1');\n"
        "INSERT INTO PAT_LOCALIZACAO VALUES (3, '17');\ncommit;\n",
        pair.sourcePath);

    try {
        pair.run.SetImport_Localizacao();
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().contains("localização 2")) << e.what();
        EXPECT_TRUE(e.message().contains("\"0 OR 1=1\"")) << e.what();
    }
    EXPECT_EQ(pair.target("SELECT * FROM PAT_LOCALIZACAO"), QStringList{"1|40"});
}

TEST(LocationStep, AFailedLookupEndsTheRunWithTheLocationTheSqlAndTheServersReason) {
    const QByteArray locations =
        "CREATE TABLE PAT_LOCALIZACAO (LOC_CODIGO INTEGER NOT NULL PRIMARY KEY, "
        "LOC_DESCRICAO VARCHAR(80), CDORGUNI INTEGER);\n";
    const QByteArray organsWithoutView =
        "CREATE TABLE GORGAOUNIDADE (CDORGUNI INTEGER NOT NULL PRIMARY KEY, CDORG INTEGER, "
        "CDUNI INTEGER);\n";
    struct Case {
        const char* label;
        QByteArray sourceDdl;
        QByteArray targetDdl;
        const char* sql;      // the lookup named
        const char* missing;  // what the server says it does not know
    };
    const Case cases[] = {
        {"source without the view", organsWithoutView + locations, kTargetOrgansOnly + locations,
         "SELECT CDORG, CDUNI FROM VW_GORGAOUNIDADE WHERE  CDORGUNI = 17", "VW_GORGAOUNIDADE"},
        {"target without the organs and units", sourceOrgansOnly() + locations, locations,
         "SELECT O.CDORGUNI FROM GORGAOUNIDADE O WHERE  O.CDORG = 2 AND    O.CDUNI = 5",
         "GORGAOUNIDADE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RegisterPair pair = RegisterPair::custom(c.sourceDdl, c.targetDdl);
        runIsql("INSERT INTO PAT_LOCALIZACAO VALUES (1, 'Sede', 17);\ncommit;\n", pair.sourcePath);
        try {
            pair.run.SetImport_Localizacao();
            ADD_FAILURE() << "no error";
        } catch (const DatabaseError& e) {
            const QString text = e.message();
            EXPECT_TRUE(text.contains("localização 1")) << e.what();
            EXPECT_TRUE(text.contains(QString::fromUtf8(c.sql))) << e.what();
            const QString server = text.section("Mensagem do servidor: ", 1);
            EXPECT_TRUE(server.contains(QString::fromUtf8(c.missing))) << e.what();
            EXPECT_FALSE(e.connectionLost());
        }
        EXPECT_EQ(pair.targetCount("PAT_LOCALIZACAO"), 0);
    }
}

TEST(LocationStep, ARefusedLocationIsNotCountedAsUntranslated) {
    // Location 3 (a pair the target lacks) is refused; location 2 (the same) arrives.
    RegisterPair pair(kSourceOrgans, kTargetOrgans +
                                         "ALTER TABLE PAT_LOCALIZACAO ADD CONSTRAINT CK_RECUSA "
                                         "CHECK (LOC_CODIGO <> 3);\n");
    runIsql(
        "INSERT INTO PAT_LOCALIZACAO (LOC_CODIGO, LOC_DESCRICAO, CDORGUNI) VALUES (1, 'Sede', "
        "17);\n"
        "INSERT INTO PAT_LOCALIZACAO (LOC_CODIGO, LOC_DESCRICAO, CDORGUNI) VALUES (2, 'A', 18);\n"
        "INSERT INTO PAT_LOCALIZACAO (LOC_CODIGO, LOC_DESCRICAO, CDORGUNI) VALUES (3, 'B', 18);\n"
        "commit;\n",
        pair.sourcePath);

    pair.run.SetImport_Localizacao();

    EXPECT_EQ(pair.target(kLocations), (QStringList{"1|Sede|40", "2|A|<null>"}));
    EXPECT_EQ(pair.run.report().untranslatedLocations, 1);
    EXPECT_EQ(pair.run.report().tables().front().refused, 1);
}

}  // namespace
}  // namespace patrimonio::test
