// A photo-only pass through the real window, offscreen: the mode box ticked, the database
// chosen in Edit2 (opened by its bare path), the run button clicked, the pass run to its summary.
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include "PhotoPassLog.h"
#include "WindowFixture.h"
#include "db/DataModule.h"
#include "runs/PhotoPass.h"

namespace patrimonio::test {
namespace {

QByteArray encoded(const char* format) {
    QImage picture(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 256, y, (x * y) % 256));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, format);
    return bytes;
}

class PhotoPassWindow : public WindowFixture {
protected:
    // A photo database with an empty PAT_BEM, chosen in Edit2 with the mode box ticked: the
    // window opens it by its bare path.
    void choosePhotoDatabase() {
        const QString path = createDatabase(
            folder.path(QStringLiteral("fotos.fdb")),
            "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY, BEM_IMAGEM BLOB "
            "SUB_TYPE 0, BEM_IMAGEM_NOME VARCHAR(100), BEM_DESCRICAO VARCHAR(60));");
        ui().Ck_Apenas_Tratar_Imagem->setChecked(true);
        ui().Edit2->setText(path);
        ASSERT_TRUE(window->data().Con_Novo.Connected());
    }

    QByteArray storedPhoto(int code) {
        RecordSet& cds = window->data().CdsAux;
        cds.Close();
        cds.setCommandText(
            QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM FROM PAT_BEM WHERE BEM_CODIGO = %1")
                .arg(code));
        cds.Open();
        const QByteArray bytes = cds.Fields(1).AsVariant().bytes();
        cds.Close();
        return bytes;
    }
};

TEST_F(PhotoPassWindow, ModeBoxTickedDatabaseInEdit2PassRunsToItsSummary) {
    const QByteArray jpeg = encoded("JPG");
    const QByteArray png = encoded("PNG");
    ASSERT_FALSE(jpeg.isEmpty());
    choosePhotoDatabase();
    if (HasFatalFailure()) return;

    // The rows go in through the window's own connection: the file is open by its bare path.
    RecordSet& cds = window->data().CdsAux;
    cds.setCommandText(
        QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM"));
    cds.Open();
    const struct {
        int code;
        QByteArray photo;
        const char* name;
    } rows[] = {{12, jpeg, "mesa.jpg"}, {30, jpeg, "cadeira"}, {40, png, "armario.jpg"}};
    for (const auto& row : rows) {
        cds.Append();
        cds.Fields(0).setAsVariant(Value::integer(row.code));
        cds.Fields(1).setAsVariant(Value::binary(row.photo));
        cds.Fields(2).setAsString(QString::fromLatin1(row.name));
        cds.Post();
    }
    ASSERT_EQ(cds.ApplyUpdates(0), 0);
    cds.Close();

    messages.clear();
    ui().EdtBensIgnorados->setText(QStringLiteral(" 30 "));
    ui().Edit3->setText(QStringLiteral("60"));
    // The summary first, then the buttons, then the folder.
    bool logButtonAtSummary = true;
    bool buttonsBackAtFolder = false;
    window->seams().message = [&](const QString& text) {
        messages << text;
        if (text == photoPassSummary(1, 1)) logButtonAtSummary = ui().BtnLOG->isEnabled();
    };
    window->seams().openFolder = [&](const QString& opened) {
        openedFolders << opened;
        buttonsBackAtFolder = ui().BitBtn1->isEnabled() && ui().BtnLOG->isEnabled();
    };
    clickRun();

    EXPECT_EQ(messages,
              (QStringList{QStringLiteral("LOG criada com sucesso, salvo junto a este executável."),
                           photoPassSummary(1, 1)}));
    EXPECT_FALSE(logButtonAtSummary);
    EXPECT_TRUE(buttonsBackAtFolder);
    EXPECT_EQ(photoCodesLogged(ui().MemoLOG->toPlainText()), QStringLiteral("40"));
    EXPECT_TRUE(QFile::exists(logFilePath()));
    EXPECT_TRUE(ui().BitBtn1->isEnabled());
    EXPECT_TRUE(ui().Ck_Apenas_Tratar_Imagem->isEnabled());
    EXPECT_TRUE(ui().BtnLOG->isEnabled());
    EXPECT_EQ(openedFolders, QStringList{afterFolder()});
    EXPECT_EQ(ui().LblStatus->text(), kPhotoPassWorking);
    EXPECT_EQ(pauses, QList<int>{1000});
    // The compaction question, answered with its default button: nothing more happens.
    EXPECT_EQ(asked.size(), 1);

    QFile after(afterFolder() + QStringLiteral("12 mesa.jpg"));
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(storedPhoto(12), after.readAll());
    EXPECT_EQ(storedPhoto(30), jpeg);  // skipped
    EXPECT_EQ(storedPhoto(40), png);   // failed, untouched
}

// The compaction question comes through the window's own "Sim"/"Não" question after the
// summary, while the run waits; "Sim" compacts the file, the log view says where the old one
// went, and the field's connection is on the same database afterwards.
TEST_F(PhotoPassWindow, AfterTheSummaryTheWindowAsksAndSimCompactsTheFile) {
    choosePhotoDatabase();
    if (HasFatalFailure()) return;
    const QString path = ui().Edit2->text();
    RecordSet& cds = window->data().CdsAux;
    cds.setCommandText(
        QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM"));
    cds.Open();
    for (int code = 1; code <= 3; ++code) {
        cds.Append();
        cds.Fields(0).setAsVariant(Value::integer(code));
        cds.Fields(1).setAsVariant(Value::binary(encoded("JPG")));
        cds.Fields(2).setAsString(QStringLiteral("foto.jpg"));
        cds.Post();
    }
    ASSERT_EQ(cds.ApplyUpdates(0), 0);
    cds.Close();

    messages.clear();
    QStringList messagesAtQuestion;
    bool runWaitsAtQuestion = false;
    window->seams().ask = [&](const QString& question) {
        asked << question;
        messagesAtQuestion = messages;
        runWaitsAtQuestion = window->runUnderWay();
        return true;
    };
    clickRun();

    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(QStringLiteral("Compactar o arquivo do banco de dados agora?")));
    EXPECT_EQ(messagesAtQuestion, QStringList{photoPassSummary(3, 0)});
    EXPECT_TRUE(runWaitsAtQuestion);
    const QStringList kept =
        QDir(databaseCopiesFolder()).entryList(QDir::Files | QDir::NoDotAndDotDot);
    ASSERT_EQ(kept.size(), 1) << ui().MemoLOG->toPlainText().toStdString();
    EXPECT_TRUE(ui().MemoLOG->toPlainText().contains(
        QDir::toNativeSeparators(databaseCopiesFolder() + kept[0])))
        << ui().MemoLOG->toPlainText().toStdString();
    EXPECT_TRUE(window->data().Con_Novo.Connected());
    EXPECT_EQ(window->data().Con_Novo.databaseString(), path);
    EXPECT_EQ(storedPhoto(1), storedPhoto(2));
    EXPECT_FALSE(storedPhoto(1).isEmpty());
}

// What the window does after a pass that did not finish: the run button and the mode box come
// back, while "Salvar Log" stays as it was and no folder opens.
TEST_F(PhotoPassWindow, APassThatDoesNotFinishGivesBackOnlyTheRunButton) {
    choosePhotoDatabase();
    if (HasFatalFailure()) return;

    const struct {
        const char* label;
        const char* skipList;
        const char* quality;
        bool raises;
    } cases[] = {
        {"not started: the codes to skip are not a list", "9) OR (1=1", "60", false},
        {"ended by an error: the quality is not a number", "", "sessenta", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        takeErrorDialogs();
        messages.clear();
        openedFolders.clear();
        window->setLogButtonEnabled(false);
        ui().EdtBensIgnorados->setText(QString::fromLatin1(c.skipList));
        ui().Edit3->setText(QString::fromLatin1(c.quality));

        clickRun();

        EXPECT_EQ(takeErrorDialogs().size(), c.raises ? 1 : 0);
        EXPECT_EQ(messages.size(), c.raises ? 0 : 1);  // the pass's own message, no summary
        EXPECT_TRUE(ui().BitBtn1->isEnabled());
        EXPECT_TRUE(ui().Ck_Apenas_Tratar_Imagem->isEnabled());
        EXPECT_TRUE(ui().Edit2->isEnabled());
        EXPECT_TRUE(ui().Edit3->isEnabled());
        EXPECT_TRUE(ui().EdtBensIgnorados->isEnabled());
        EXPECT_FALSE(ui().SpeedButton1->isEnabled());  // photo-only mode
        EXPECT_FALSE(window->runUnderWay());
        EXPECT_FALSE(ui().BtnLOG->isEnabled());
        EXPECT_TRUE(openedFolders.isEmpty());
    }
}

// While the workers recompress, the window handles its events and the framed box shows the
// photo being handled, fitted to the box; after the run the box is empty.
TEST_F(PhotoPassWindow, PhotosShowInTheBoxAndTheWindowAnswersWhileWorkersRun) {
    // Large and smooth: a small file (quick to read from the database) that takes the codec
    // long to decode, so that the run waits for its workers.
    QImage picture(6000, 4500, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) line[x] = qRgb(x / 24, y / 18, (x + y) / 42);
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&buffer, "JPG", 95));
    choosePhotoDatabase();
    if (HasFatalFailure()) return;
    RecordSet& cds = window->data().CdsAux;
    cds.setCommandText(
        QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM"));
    cds.Open();
    for (int code = 1; code <= 6; ++code) {
        cds.Append();
        cds.Fields(0).setAsVariant(Value::integer(code));
        cds.Fields(1).setAsVariant(Value::binary(jpeg));
        cds.Fields(2).setAsString(QStringLiteral("foto%1.jpg").arg(code));
        cds.Post();
    }
    ASSERT_EQ(cds.ApplyUpdates(0), 0);
    cds.Close();
    ui().Edit3->setText(QStringLiteral("60"));
    window->seams().photoWorkers = 2;

    // A timer that fires whenever the window handles its events.
    int ticksWhileWaiting = 0;
    QSize shown;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (window->waitingForPhotos()) ++ticksWhileWaiting;
        const QPixmap pixmap = ui().ImgAntes->pixmap();
        if (window->runUnderWay() && !pixmap.isNull()) shown = pixmap.size();
    });
    ticker.start(0);
    messages.clear();
    clickRun();
    ticker.stop();

    EXPECT_EQ(messages, QStringList{photoPassSummary(6, 0)});
    EXPECT_GT(ticksWhileWaiting, 0);
    // 6000 x 4500 is brought to 600 x 450, shown within the 449 x 212 box at its proportion.
    EXPECT_EQ(shown, QSize(282, 212));
    EXPECT_TRUE(ui().ImgAntes->pixmap().isNull());
}

}  // namespace
}  // namespace patrimonio::test
