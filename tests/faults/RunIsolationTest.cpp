// A run isolated from the window, on the right databases: closing the window during a run,
// what the operator types during a run, connections lost or moved between runs, and the one
// database of photo-only mode. Through the real window against real registers.

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QToolButton>

#include "FaultWindow.h"
#include "RegisterPair.h"
#include "db/Connection.h"
#include "db/RecordSet.h"
#include "photos/JpegRecompressor.h"

namespace patrimonio::test {

namespace {

const QString kPhotoBytes =
    QStringLiteral("SELECT COALESCE(SUM(OCTET_LENGTH(BEM_IMAGEM)), 0) FROM PAT_BEM");
const QString kPhotoSizes =
    QStringLiteral("SELECT BEM_CODIGO, OCTET_LENGTH(BEM_IMAGEM) FROM PAT_BEM ORDER BY 1");

// Shuts down every other attachment to the database, as a server restart does.
void killOtherAttachments(const QString& path) {
    runIsql(
        "delete from mon$attachments where mon$attachment_id <> current_connection;\n"
        "commit;\n",
        path);
}

// The photo an asset holds, read through the server.
QByteArray photoOf(const QString& path, int code) {
    Connection c(QStringLiteral("Con_Check"));
    c.Params = Connection::editParams(kServerPrefix + path);
    RecordSet rs(c);
    rs.setCommandText(
        QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM FROM PAT_BEM WHERE BEM_CODIGO = %1")
            .arg(code));
    rs.Open();
    return rs.Eof() ? QByteArray() : rs.Fields(1).AsVariant().bytes();
}

// The last line of the log view that says something (a report ends with a line break).
QString lastLine(const QTextEdit* log) {
    const QStringList lines = log->toPlainText().split(u'\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last();
}

}  // namespace

class RunIsolation : public FaultWindow {
protected:
    // The inputs a run keeps disabled, each with whether it is enabled now.
    QList<bool> inputsEnabled() const {
        return {ui().Edit4->isEnabled(),        ui().Edit2->isEnabled(),
                ui().SpeedButton1->isEnabled(), ui().SpeedButton2->isEnabled(),
                ui().Edit3->isEnabled(),        ui().EdtBensIgnorados->isEnabled()};
    }
    // Closes the window (as the close box does) during the pause of the nth opening of a phase.
    void closeDuring(const QString& status, int occurrence) {
        window->seams().pause = [this, status, occurrence, seen = 0](int ms) mutable {
            pauses << ms;
            if (ui().LblStatus->text() != status || ++seen != occurrence) return;
            enabledDuringRun = inputsEnabled();
            window->close();
        };
    }
    // `sim` to the close question; "Não" to what a stopped run asks after it (the way back).
    void answer(bool sim) {
        window->seams().ask = [this, sim](const QString& question) {
            questions << question;
            return sim && question == TFrmImportador::kStopQuestion;
        };
    }
    // Lets the window handle what the end of the run left queued (its closing).
    static void settle() { QCoreApplication::processEvents(); }

    QStringList questions;
    QList<bool> enabledDuringRun;
};

// ---- Closing the window during a run ------------------------------------------------------

struct CloseCase {
    const char* label;
    const char* closeAt;  // the phase during whose pause the window is closed...
    int occurrence;       // ...the nth time it opens
    bool sim;
    int assetsInTarget;    // PAT_BEM rows the target holds afterwards
    const char* stopLine;  // the last line of the log view; none when the run completed
};

void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << c.label;
}

class ClosingDuringAnImport : public RunIsolation,
                              public ::testing::WithParamInterface<CloseCase> {};

TEST_P(ClosingDuringAnImport, SimStopsAfterAWholeWriteBackNaoCarriesOn) {
    const CloseCase& c = GetParam();
    const Register r = makeRegister(250, false);
    // Rows of the target's own: write-offs (purged first) and asset types (purged eleventh).
    runIsql(
        "INSERT INTO PAT_BAIXA (BAI_CODIGO, BEM_CODIGO) VALUES (1, 1);\n"
        "INSERT INTO PAT_TIPOBEM (TB_CODIGO, TB_DESCRICAO) VALUES (900, 'Antigo');\n"
        "commit;\n",
        r.target);
    chooseForImport(r);
    messages.clear();
    closeDuring(QString::fromUtf8(c.closeAt), c.occurrence);
    answer(c.sim);

    clickRun();
    settle();

    // A run stopped once its purge had begun then offers the way back; "Não" keeps what it did.
    ASSERT_EQ(questions.size(), c.sim ? 2 : 1) << questions.join(u'|').toStdString();
    EXPECT_EQ(questions[0], QStringLiteral("Interromper a execução em andamento?"));
    if (c.sim) {
        EXPECT_TRUE(questions[1].contains(QStringLiteral("Voltar o banco a ser atualizado")));
    }
    EXPECT_EQ(enabledDuringRun, (QList<bool>{false, false, false, false, false, false}));
    EXPECT_EQ(inputsEnabled(), (QList<bool>{true, true, true, true, true, true}));
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_EQ(completed(), !c.sim);
    EXPECT_EQ(window->isVisible(), !c.sim);
    EXPECT_FALSE(window->runUnderWay());
    // Whole write-backs only: pages of a hundred assets.
    EXPECT_EQ(count(r.target, QStringLiteral("PAT_BEM")), c.assetsInTarget);
    if (!c.stopLine) return;
    EXPECT_EQ(lastLine(ui().MemoLOG), QString::fromUtf8(c.stopLine));
    // The steps after the stop did not run.
    EXPECT_GT(count(r.source, QStringLiteral("PAT_DEPRECIACAO_CONTROLE")), 0);
    EXPECT_EQ(count(r.target, QStringLiteral("PAT_DEPRECIACAO_CONTROLE")), 0);
    const bool purgeCut = c.assetsInTarget == 0;
    EXPECT_EQ(count(r.target, QStringLiteral("PAT_BAIXA")), 0);
    EXPECT_EQ(number(r.target, QStringLiteral("SELECT COUNT(*) FROM PAT_TIPOBEM WHERE TB_CODIGO "
                                              "= 900")),
              purgeCut ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ClosingDuringAnImport,
    ::testing::Values(
        CloseCase{"sim_during_the_purge", "Excluindo BEM.", 1, true, 0,
                  "Execução interrompida pelo operador durante a exclusão, antes de esvaziar "
                  "PAT_BEM_VALOR: 6 de 12 tabelas esvaziadas, nada foi importado."},
        CloseCase{"sim_during_the_second_page", "Importando os bens.", 2, true, 200,
                  "Execução interrompida pelo operador em PAT_BEM, depois de uma gravação "
                  "completa: 200 registros gravados nessa tabela."},
        CloseCase{"nao_during_the_second_page", "Importando os bens.", 2, false, 250, nullptr}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(RunIsolation, ClosingWithoutARunClosesAtOnceWithoutAQuestion) {
    answer(false);
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(questions.isEmpty());
}

TEST_F(RunIsolation, SimDuringAPhotoPassStopsAfterTheBatchWithoutTheSummary) {
    const Register r = makeRegister(70, true);
    const QStringList before = queryRows(r.source, kPhotoSizes);
    ASSERT_EQ(before.size(), 70);
    chooseForPhotos(r.source);
    messages.clear();
    closeDuring(QStringLiteral("Carga das imagens, 50 por vêz."), 1);
    answer(true);

    clickRun();
    settle();

    EXPECT_EQ(questions.size(), 1);
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_TRUE(messages.filter(QStringLiteral("Imagens tratadas com sucesso.")).isEmpty());
    EXPECT_TRUE(openedFolders.isEmpty());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(lastLine(ui().MemoLOG)
                    .startsWith(QStringLiteral("Tratamento das imagens interrompido pelo operador "
                                               "depois do lote 1 (50 linhas percorridas): ")))
        << ui().MemoLOG->toPlainText().toStdString();

    // The first batch was written, the rest not touched.
    window->data().Con_Novo.Close();
    const QStringList after = queryRows(r.source, kPhotoSizes);
    ASSERT_EQ(after.size(), 70);
    EXPECT_NE(after.mid(0, 50), before.mid(0, 50));
    EXPECT_EQ(after.mid(50), before.mid(50));
}

// ---- What is typed during a run ------------------------------------------------------------

TEST_F(RunIsolation, InputsAreDisabledDuringAPassAndWhatWasReadAtItsStartHolds) {
    const Register r = makeRegister(3, true);
    const QByteArray second = photoOf(r.source, 2);
    chooseForPhotos(r.source);
    ui().Edit3->setText(QStringLiteral("60"));
    ui().EdtBensIgnorados->setText(QStringLiteral("2"));
    messages.clear();
    window->seams().pause = [this](int) {
        enabledDuringRun = inputsEnabled();
        // Whatever reaches the boxes meanwhile: a blank quality would mean 10, and the list
        // is not one of whole numbers.
        ui().Edit3->setText(QString());
        ui().EdtBensIgnorados->setText(QStringLiteral("9;30"));
    };

    clickRun();

    EXPECT_EQ(enabledDuringRun, (QList<bool>{false, false, false, false, false, false}));
    // Back after the run, the source picker only in import mode.
    EXPECT_EQ(inputsEnabled(), (QList<bool>{true, true, false, true, true, true}));
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_TRUE(messages.last().startsWith(QStringLiteral("Imagens tratadas com sucesso.")))
        << messages.last().toStdString();

    window->data().Con_Novo.Close();
    EXPECT_EQ(photoOf(r.source, 2), second);  // skipped, as listed at the start
    const QString beforeFile = beforeFolder() + QStringLiteral("1__bem_1.jpg");
    const QString reference = folder.path(QStringLiteral("referencia.jpg"));
    const std::optional<QByteArray> at60 = SetJPGCompression(60, beforeFile, reference);
    ASSERT_TRUE(at60.has_value());
    EXPECT_EQ(photoOf(r.source, 1), *at60);
}

// ---- Connections between runs --------------------------------------------------------------

TEST_F(RunIsolation, LostConnectionsGoBackToTheirOwnDatabases) {
    const Register r = makeRegister(5, false);
    chooseForImport(r);
    killOtherAttachments(r.source);
    killOtherAttachments(r.target);

    clickRun();

    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_TRUE(completed());
    EXPECT_EQ(count(r.target, QStringLiteral("PAT_BEM")), 5);
    EXPECT_EQ(window->data().Con_Velho.databaseString(), kServerPrefix + r.target);
}

// The rule: a field edited to a path that cannot be opened closes its connection, whether or
// not the connection had been lost; the run then tries the path the field names, fails, and
// stops with the reason before anything is touched. The reconnect never goes back to the
// database the field no longer names.
TEST_F(RunIsolation, AFailedEditAfterALossStopsTheRunBeforeAnythingIsTouched) {
    const Register r = makeRegister(5, false);
    runIsql(
        "INSERT INTO PAT_TIPOBEM (TB_CODIGO, TB_DESCRICAO) VALUES (900, 'Antigo');\n"
        "commit;\n",
        r.target);
    const int organs = count(r.target, QStringLiteral("GORGAOUNIDADE"));
    chooseForImport(r);
    killOtherAttachments(r.target);
    ui().Edit2->setText(folder.path(QStringLiteral("nao-existe.fdb")));
    EXPECT_FALSE(window->data().Con_Velho.Connected());
    EXPECT_TRUE(window->data().Con_Velho.databaseString().isEmpty());
    messages.clear();

    clickRun();

    const QStringList errors = takeErrorDialogs();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(
        QStringLiteral("Não foi possível conectar ao banco a ser atualizado \"")))
        << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("nao-existe.fdb"))) << errors[0].toStdString();
    EXPECT_FALSE(completed());
    EXPECT_TRUE(pauses.isEmpty());
    expectWindowGivenBack();
    EXPECT_EQ(count(r.target, QStringLiteral("PAT_TIPOBEM")), 1);
    EXPECT_EQ(count(r.target, QStringLiteral("GORGAOUNIDADE")), organs);
}

TEST_F(RunIsolation, PhotoOnlyModeWorksOnTheTargetFieldsFileAndNothingElse) {
    const Register r = makeRegister(3, true);
    const QString photos = createDatabase(folder.path(QStringLiteral("fotos.fdb")),
                                          registerSchema() + sourceViewDdl());
    generateRegister({QStringLiteral("--source"), photos, QStringLiteral("--rows"),
                      QStringLiteral("PAT_BEM=3")});
    const int sourceBytes = number(r.source, kPhotoBytes);
    const int photoBytes = number(photos, kPhotoBytes);
    // Import mode first: Con_Novo on the source, Con_Velho on the photo file, both through
    // the server. Then the box is ticked and nothing else touched.
    ui().Edit4->setText(r.source);
    ui().Edit2->setText(photos);
    ui().Ck_Apenas_Tratar_Imagem->click();
    messages.clear();

    clickRun();

    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_TRUE(messages.last().startsWith(QStringLiteral("Imagens tratadas com sucesso.")));
    EXPECT_EQ(window->data().Con_Novo.databaseString(), photos);
    EXPECT_FALSE(window->data().Con_Velho.Connected());
    window->data().Con_Novo.Close();
    EXPECT_EQ(number(r.source, kPhotoBytes), sourceBytes);
    EXPECT_NE(number(photos, kPhotoBytes), photoBytes);
}

}  // namespace patrimonio::test
