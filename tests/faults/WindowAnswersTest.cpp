// The window answers throughout a run: its event loop never goes long without running, through
// the real one-second pauses, the statements and the photo waits; and closing it during a run
// asks at once, wherever the run is, with each answer doing what it always did.

#include <QBuffer>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTextEdit>
#include <QTimer>

#include "FaultWindow.h"
#include "LoopWatch.h"
#include "RegisterPair.h"
#include "db/RecordSet.h"

namespace patrimonio::test {

namespace {

// Another program holds an uncommitted row of a table through the server: whoever writes the
// same key waits until it lets go.
class HeldRow {
public:
    HeldRow(const QString& database, const QByteArray& insert) {
        isql_.setProcessChannelMode(QProcess::MergedChannels);
        isql_.start(QStringLiteral("isql-fb"),
                    {QStringLiteral("-q"), QStringLiteral("-user"), QStringLiteral("SYSDBA"),
                     QStringLiteral("-password"), QStringLiteral("quillfern"),
                     QStringLiteral("127.0.0.1/3052:") + database});
        isql_.write("SET AUTODDL OFF;\n" + insert + "\nSELECT 'pronto' FROM RDB$DATABASE;\n");
        QElapsedTimer t;
        t.start();
        while (!output_.contains("pronto") && t.elapsed() < 20000) {
            isql_.waitForReadyRead(100);
            output_ += isql_.readAll();
        }
    }
    ~HeldRow() { release(); }
    bool holding() const { return output_.contains("pronto"); }
    void release() {
        if (isql_.state() == QProcess::NotRunning) return;
        isql_.write("ROLLBACK;\nQUIT;\n");
        isql_.closeWriteChannel();
        isql_.waitForFinished(20000);
    }

private:
    QProcess isql_;
    QByteArray output_;
};

// A large smooth photo: quick to read, slow to decode, so that a run waits for its workers.
QByteArray slowPhoto() {
    QImage picture(6000, 4500, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) line[x] = qRgb(x / 24, y / 18, (x + y) / 42);
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPG", 95);
    return jpeg;
}

QString lastLine(const QTextEdit* log) {
    const QStringList lines = log->toPlainText().split(u'\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last();
}

}  // namespace

class WindowAnswers : public FaultWindow {
protected:
    // Real one-second pauses, as in production.
    void realPauses() { window->seams().pause = nullptr; }

    // Closes the window, as the close box does, the first time `when` holds during the run;
    // the question is answered `sim` and its delay from the close noted. What a stopped run
    // asks after it (the way back) is answered "Não" and kept apart.
    void closeWhen(std::function<bool()> when, bool sim) {
        window->seams().ask = [this, sim](const QString& question) {
            if (question != TFrmImportador::kStopQuestion) {
                afterStop << question;
                return false;
            }
            questions << question;
            askedAfterMs = closedAt.elapsed();
            return sim;
        };
        QObject::connect(&poll, &QTimer::timeout, [this, when] {
            if (!window->runUnderWay() || closedAt.isValid() || !when()) return;
            closedAt.start();
            window->close();
        });
        poll.start(5);
    }
    static void settle() { QCoreApplication::processEvents(); }

    QTimer poll;
    QElapsedTimer closedAt;
    qint64 askedAfterMs = -1;
    QStringList questions;
    QStringList afterStop;
};

TEST_F(WindowAnswers, TheEventLoopRunsThroughAnImportAndAPhotoPass) {
    const Register r = makeRegister(120, true);
    chooseForImport(r);
    realPauses();
    messages.clear();
    {
        LoopWatch watch;
        clickRun();
        EXPECT_TRUE(completed()) << messages.join(u'|').toStdString();
        EXPECT_LE(watch.longestMs(), 100) << "during the import";
    }
    EXPECT_EQ(count(r.target, QStringLiteral("PAT_BEM")), 120);

    window->data().Con_Novo.Close();
    window->data().Con_Velho.Close();
    chooseForPhotos(r.target);
    messages.clear();
    {
        LoopWatch watch;
        clickRun();
        ASSERT_FALSE(messages.isEmpty());
        EXPECT_TRUE(messages.last().startsWith(QStringLiteral("Imagens tratadas com sucesso.")))
            << messages.last().toStdString();
        EXPECT_LE(watch.longestMs(), 100) << "during the photo pass";
    }
}

// ---- The close question, wherever the run is -----------------------------------------------

TEST_F(WindowAnswers, DuringAPauseTheQuestionComesAtOnceAndSimStopsBeforeTheNextDelete) {
    const Register r = makeRegister(5, false);
    chooseForImport(r);
    realPauses();
    closeWhen([this] { return ui().LblStatus->text() == QStringLiteral("Excluindo BEM."); }, true);

    clickRun();
    settle();

    EXPECT_EQ(questions, QStringList{TFrmImportador::kStopQuestion});
    EXPECT_LE(askedAfterMs, 100);
    EXPECT_EQ(afterStop.size(), 1);
    EXPECT_FALSE(completed());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(lastLine(ui().MemoLOG)
                    .startsWith(QStringLiteral("Execução interrompida pelo operador durante a "
                                               "exclusão, antes de esvaziar PAT_BEM_VALOR")))
        << lastLine(ui().MemoLOG).toStdString();
}

struct HeldCase {
    const char* label;
    bool sim;
};

void PrintTo(const HeldCase& c, std::ostream* os) {
    *os << c.label;
}

class CloseDuringALongWriteBack : public WindowAnswers,
                                  public ::testing::WithParamInterface<HeldCase> {};

// A write-back that waits for another program's row: the window asks at once; "Sim" stops the
// run after that write-back, "Não" lets it run to its end.
TEST_P(CloseDuringALongWriteBack, TheQuestionComesAtOnceAndTheAnswerDoesAsAlways) {
    const HeldCase& c = GetParam();
    const Register r = makeRegister(5, false);
    const int responsible = number(r.source, QStringLiteral("SELECT MIN(RES_CODIGO) FROM "
                                                            "PAT_RESPONSAVEL"));
    chooseForImport(r);
    window->seams().pause = [](int) {};
    HeldRow held(r.target, QStringLiteral("INSERT INTO PAT_RESPONSAVEL (RES_CODIGO, RES_NOME) "
                                          "VALUES (%1, 'Outro programa');")
                               .arg(responsible)
                               .toLatin1());
    ASSERT_TRUE(held.holding());
    QElapsedTimer waiting;
    closeWhen(
        [&] {
            if (ui().LblStatus->text() != QStringLiteral("Importando os responsáveis."))
                return false;
            if (!waiting.isValid()) waiting.start();
            return waiting.elapsed() > 300;  // the write-back is waiting by now
        },
        c.sim);
    // The other program lets go a second after the question.
    QTimer letGo;
    letGo.setSingleShot(true);
    QObject::connect(&letGo, &QTimer::timeout, [&] { held.release(); });
    QTimer armLetGo;
    QObject::connect(&armLetGo, &QTimer::timeout, [&] {
        if (!questions.isEmpty() && !letGo.isActive() && armLetGo.isActive()) {
            armLetGo.stop();
            letGo.start(1000);
        }
    });
    armLetGo.start(5);

    clickRun();
    settle();

    EXPECT_EQ(questions, QStringList{TFrmImportador::kStopQuestion});
    EXPECT_LE(askedAfterMs, 100);
    // Stopped after the purge, the run offers the way back.
    EXPECT_EQ(afterStop.size(), c.sim ? 1 : 0);
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_EQ(completed(), !c.sim);
    EXPECT_EQ(window->isVisible(), !c.sim);
    if (c.sim) {
        EXPECT_EQ(lastLine(ui().MemoLOG),
                  QStringLiteral("Execução interrompida pelo operador em PAT_RESPONSAVEL, depois "
                                 "de uma gravação completa: 1 registros gravados nessa tabela."));
        EXPECT_EQ(count(r.target, QStringLiteral("PAT_RESPONSAVEL")), 1);
    } else {
        EXPECT_EQ(count(r.target, QStringLiteral("PAT_RESPONSAVEL")),
                  count(r.source, QStringLiteral("PAT_RESPONSAVEL")));
        EXPECT_EQ(count(r.target, QStringLiteral("PAT_BEM")), 5);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, CloseDuringALongWriteBack,
                         ::testing::Values(HeldCase{"sim", true}, HeldCase{"nao", false}),
                         [](const auto& p) { return std::string(p.param.label); });

// While the run waits for its photo workers: asked at once; "Sim" stops the pass after its
// batch, without the summary.
TEST_F(WindowAnswers, DuringAPhotoWaitTheQuestionComesAtOnce) {
    const QString path = createDatabase(
        folder.path(QStringLiteral("fotos.fdb")),
        "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY, BEM_IMAGEM BLOB "
        "SUB_TYPE 0, BEM_IMAGEM_NOME VARCHAR(100), BEM_DESCRICAO VARCHAR(60));");
    chooseForPhotos(path);
    ASSERT_TRUE(window->data().Con_Novo.Connected());
    const QByteArray jpeg = slowPhoto();
    RecordSet& cds = window->data().CdsAux;
    cds.setCommandText(
        QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM"));
    cds.Open();
    for (int code = 1; code <= 4; ++code) {
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
    messages.clear();
    closeWhen([this] { return window->waitingForPhotos(); }, true);

    clickRun();
    settle();

    EXPECT_EQ(questions, QStringList{TFrmImportador::kStopQuestion});
    EXPECT_LE(askedAfterMs, 100);
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_TRUE(messages.filter(QStringLiteral("Imagens tratadas com sucesso.")).isEmpty());
    EXPECT_TRUE(openedFolders.isEmpty());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(lastLine(ui().MemoLOG)
                    .startsWith(QStringLiteral("Tratamento das imagens interrompido pelo operador "
                                               "depois do lote 1")))
        << ui().MemoLOG->toPlainText().toStdString();
}

}  // namespace patrimonio::test
