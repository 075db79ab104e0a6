#include <gtest/gtest.h>

#include <clocale>

#include "RegisterPair.h"
#include "core/Errors.h"

namespace patrimonio::test {
namespace {

const QString kRows =
    "SELECT CDORGUNI, NMORGUNI, CDORG, CDUNI, USUARIO, DATAMOD, ANO, INABILITADO, ENT_CODIGO, "
    "ORGAO_SICOM FROM GORGAOUNIDADE WHERE CDORGUNI > 40 ORDER BY CDORGUNI";

// NMORGUNI is WIN1252: Ê is the byte 0xCA.
const QString kContigencia = QString::fromLatin1("RESERVA DE CONTIG\xCANCIA");
const QString kContingencia = QString::fromLatin1("RESERVA DE CONTING\xCANCIA");

QString row(int key, const QString& name, const QString& organ, int unit, const QString& tail) {
    return QStringLiteral("%1|%2|%3|%4|0|2015-12-21|<null>|<null>|%5")
        .arg(key)
        .arg(name, organ)
        .arg(unit)
        .arg(tail);
}

TEST(ReserveRowsStep, TwoRowsAboveTheLargestKeyAndTwoMoreOnTheNextRun) {
    RegisterPair pair({},
                      "INSERT INTO GORGAOUNIDADE (CDORGUNI, CDORG, CDUNI) VALUES (40, 3, 1);\n"
                      "INSERT INTO GORGAOUNIDADE (CDORGUNI, CDORG, CDUNI) VALUES (7, 1, 1);\n");
    // The date must not depend on the workstation's settings.
    std::setlocale(LC_ALL, "C");

    pair.run.SetImport_Gorgaounidade();

    EXPECT_EQ(pair.target(kRows), (QStringList{row(41, kContigencia, "9", 0, "<null>|<null>"),
                                               row(42, kContingencia, "41", 1, "1|1")}));
    EXPECT_TRUE(pair.host.events.isEmpty()) << pair.host.events.join(' ').toStdString();

    pair.run.SetImport_Gorgaounidade();

    EXPECT_EQ(pair.target(kRows), (QStringList{row(41, kContigencia, "9", 0, "<null>|<null>"),
                                               row(42, kContingencia, "41", 1, "1|1"),
                                               row(43, kContigencia, "9", 0, "<null>|<null>"),
                                               row(44, kContingencia, "43", 1, "1|1")}));
    EXPECT_EQ(pair.targetCount("GORGAOUNIDADE"), 6);
}

TEST(ReserveRowsStep, RefusedStatementEndsTheStep) {
    // On an empty table the new key is null, which the key column refuses.
    RegisterPair pair;
    EXPECT_THROW(pair.run.SetImport_Gorgaounidade(), DatabaseError);
    EXPECT_EQ(pair.targetCount("GORGAOUNIDADE"), 0);
}

}  // namespace
}  // namespace patrimonio::test
