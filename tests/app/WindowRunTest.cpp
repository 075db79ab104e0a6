// Whole runs through the real window: the fields connect, the run button dispatches to the
// real import, and the window reports and gives itself back.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "WindowFixture.h"

namespace patrimonio::test {

namespace {}  // namespace

using WindowRun = WindowFixture;

TEST_F(WindowRun, ImportOfAnEmptyRegisterRunsToCompletion) {
    const QByteArray schema = fixtureFile("schema.sql");
    ASSERT_FALSE(schema.isEmpty());
    const QString source = createDatabase(folder.path(QStringLiteral("origem.fdb")),
                                          schema + fixtureFile("source-view.sql"));
    const QString target = createDatabase(folder.path(QStringLiteral("destino.fdb")), schema);
    // The reserve rows number themselves after the target's own organs and units.
    runIsql("INSERT INTO GORGAOUNIDADE (CDORGUNI, NMORGUNI) VALUES (150, 'PREFEITURA');\ncommit;\n",
            target);

    ui().Edit4->setText(source);
    ui().Edit2->setText(target);
    clickRun();

    EXPECT_EQ(takeErrorDialogs(), QStringList());
    EXPECT_EQ(messages,
              (QStringList{"Conectado a base de dados: origem.fdb",
                           "Conectado a base de dados: destino.fdb", "Importação concluída."}));
    EXPECT_EQ(ui().LblStatus->text(), QStringLiteral("Aguardando..."));
    // The whole run's progress, under the status text, ends at 100 %.
    const auto* progress = window->findChild<QLabel*>(QStringLiteral("LblProgresso"));
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->text(), QStringLiteral("Progresso total: 100%"));
    EXPECT_FALSE(pauses.isEmpty());
    for (int ms : pauses) EXPECT_EQ(ms, 1000);
    // The two reserve rows are all that an empty source adds to the target.
    EXPECT_EQ(queryRows(target, QStringLiteral("SELECT CDORGUNI FROM GORGAOUNIDADE ORDER BY 1")),
              (QStringList{"150", "151", "152"}));
    EXPECT_TRUE(ui().BitBtn1->isEnabled());
    EXPECT_TRUE(ui().Ck_Apenas_Tratar_Imagem->isEnabled());
}

TEST_F(WindowRun, AServerErrorEndsTheImportInTheErrorDialog) {
    // A target without organs and units: the reserve rows get no key and the server refuses.
    const QByteArray schema = fixtureFile("schema.sql");
    const QString source = createDatabase(folder.path(QStringLiteral("origem.fdb")),
                                          schema + fixtureFile("source-view.sql"));
    const QString target = createDatabase(folder.path(QStringLiteral("destino.fdb")), schema);
    ui().Edit4->setText(source);
    ui().Edit2->setText(target);
    messages.clear();

    clickRun();

    const QStringList shown = takeErrorDialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("CDORGUNI"))) << shown[0].toStdString();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(ui().BitBtn1->isEnabled());
    EXPECT_TRUE(ui().Ck_Apenas_Tratar_Imagem->isEnabled());
}

TEST_F(WindowRun, ImportWithNoDatabaseChosenShowsTheErrorAndNoCompletion) {
    clickRun();
    EXPECT_EQ(takeErrorDialogs().size(), 1);
    EXPECT_FALSE(messages.contains(QStringLiteral("Importação concluída.")));
    EXPECT_TRUE(ui().BitBtn1->isEnabled());
    EXPECT_TRUE(ui().Ck_Apenas_Tratar_Imagem->isEnabled());
}

}  // namespace patrimonio::test
