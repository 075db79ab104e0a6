// The run button: the run goes on a thread of its own, the mode is read once, no run starts
// beside another, the window answers throughout and is given back however a run ends.

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <atomic>

#include "WindowFixture.h"
#include "app/Gauge.h"
#include "app/RunChannel.h"
#include "core/Errors.h"
#include "core/StatusConvention.h"

namespace patrimonio::test {

class RunDriver : public WindowFixture {
protected:
    // Replaces the run itself, on the run's thread; `during` runs inside it with the run's
    // host, and `onWindow` lets it act on the window as the operator would meanwhile.
    void onRun(std::function<void(RunHost&)> during = {}) {
        window->seams().run = [this, during](const RunRequest& request, RunHost& host,
                                             RunOutcome&) {
            runThread = QThread::currentThread();
            channel = dynamic_cast<RunChannel*>(&host);
            onWindow([&] {
                modes << request.photoOnly;
                runEnabledDuring = ui().BitBtn1->isEnabled();
                modeBoxEnabledDuring = ui().Ck_Apenas_Tratar_Imagem->isEnabled();
            });
            if (during) during(host);
        };
    }
    // Runs `action` on the window's thread while the run waits.
    void onWindow(const std::function<void()>& action) { channel->ask(action); }
    void expectWindowGivenBack() {
        EXPECT_TRUE(ui().BitBtn1->isEnabled());
        EXPECT_TRUE(ui().Ck_Apenas_Tratar_Imagem->isEnabled());
        EXPECT_FALSE(window->runUnderWay());
    }

    QList<bool> modes;
    QThread* runThread = nullptr;
    RunChannel* channel = nullptr;
    bool runEnabledDuring = true;
    bool modeBoxEnabledDuring = true;
};

// What the status widgets show on screen, as they are painted.
class PaintLog : public QObject {
public:
    QStringList painted;  // "LblStatus:<text>", "LblWork:<text>", "Gauge1:<progress>"
    QStringList of(const char* widget) const {
        QStringList out;
        const QString prefix = QLatin1StringView(widget) + u':';
        for (const QString& p : painted)
            if (p.startsWith(prefix)) out << p.mid(prefix.size());
        return out;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        if (const auto* label = qobject_cast<QLabel*>(watched)) {
            painted << watched->objectName() + u':' + label->text();
        } else if (const auto* gauge = qobject_cast<Gauge*>(watched)) {
            painted << watched->objectName() + u':' + QString::number(gauge->progress());
        }
        return false;
    }
};

// A step reports every row; the window paints at the screen's pace, shows the opening text
// through the pause, and has the run's last values on screen when the run ends.
TEST_F(RunDriver, ReportingPaintsAtTheScreensPaceAndEndsWithTheLastValuesOnScreen) {
    PaintLog log;
    for (QWidget* w : {static_cast<QWidget*>(ui().LblStatus), static_cast<QWidget*>(ui().LblWork),
                       static_cast<QWidget*>(ui().Gauge1)}) {
        w->installEventFilter(&log);
    }
    QCoreApplication::processEvents();
    log.painted.clear();
    constexpr int rows = 3000;
    QStringList paintedDuringPause;
    window->seams().pause = [&](int) { paintedDuringPause = log.of("LblStatus"); };
    onRun([&](RunHost& host) {
        openPhase(host, QStringLiteral("Importando as depreciações."));
        setRangeMinFirst(host, rows);
        for (int j = 0; j < rows; ++j) {
            host.setGaugeProgress(j);
            if (j + 1 < rows) showRowCounter(host, j);
            keepAlive(host);
        }
        closePhase(host);
    });
    QElapsedTimer clock;
    clock.start();
    clickRun();
    const qint64 ms = clock.elapsed();
    EXPECT_NE(runThread, window->thread());

    EXPECT_EQ(paintedDuringPause.value(paintedDuringPause.size() - 1),
              QStringLiteral("Importando as depreciações."));
    const int workPaints = static_cast<int>(log.of("LblWork").size());
    EXPECT_LE(workPaints, ms / 16 + 3) << ms << " ms";
    EXPECT_LT(workPaints, rows / 10);
    EXPECT_EQ(log.of("LblStatus").value(log.of("LblStatus").size() - 1),
              QStringLiteral("Aguardando..."));
    EXPECT_EQ(log.of("LblWork").value(workPaints - 1), QStringLiteral("2998 de 3000"));
    EXPECT_EQ(log.of("Gauge1").value(log.of("Gauge1").size() - 1), QStringLiteral("2999"));
    EXPECT_EQ(ui().LblWork->text(), QStringLiteral("2998 de 3000"));
    EXPECT_GE(ui().LblWork->width(),
              ui().LblWork->fontMetrics().horizontalAdvance(ui().LblWork->text()));
}

TEST_F(RunDriver, ReadsTheModeBoxAtTheClick) {
    onRun();
    clickRun();
    ui().Ck_Apenas_Tratar_Imagem->setChecked(true);
    clickRun();
    EXPECT_EQ(modes, (QList<bool>{false, true}));
    EXPECT_FALSE(runEnabledDuring);
    EXPECT_FALSE(modeBoxEnabledDuring);
    expectWindowGivenBack();
}

TEST_F(RunDriver, AClickDuringARunStartsNothing) {
    onRun([this](RunHost&) {
        onWindow([this] {
            QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
            ui().BitBtn1->click();
            window->BitBtn1Click();
            // The window enables the button after a photo-only pass's summary while the run
            // goes on.
            window->setRunEnabled(true);
            QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
        });
    });
    clickRun();
    EXPECT_EQ(modes.size(), 1);
    expectWindowGivenBack();
}

TEST_F(RunDriver, TickingTheBoxDuringARunChangesNothing) {
    onRun([this](RunHost&) {
        onWindow([this] {
            QTest::mouseClick(ui().Ck_Apenas_Tratar_Imagem, Qt::LeftButton);
            QTest::keyClick(ui().Ck_Apenas_Tratar_Imagem, Qt::Key_Space);
        });
    });
    clickRun();
    EXPECT_EQ(modes, QList<bool>{false});
    EXPECT_FALSE(ui().Ck_Apenas_Tratar_Imagem->isChecked());
    EXPECT_TRUE(ui().SpeedButton1->isEnabled());
    expectWindowGivenBack();
}

TEST_F(RunDriver, AnErrorEndsTheRunWithoutCompletionAndGivesTheWindowBack) {
    onRun([](RunHost& host) {
        host.setStatus(QStringLiteral("Importando os responsáveis."));
        throw DatabaseError(QStringLiteral("unsuccessful metadata update"));
    });
    clickRun();
    EXPECT_EQ(takeErrorDialogs(), QStringList{"unsuccessful metadata update."});
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(ui().LblStatus->text(), QStringLiteral("Importando os responsáveis."));
    expectWindowGivenBack();

    // Called directly, the handler starts the run and returns; the error reaches the dialog
    // when the run ends, and the window is given back.
    window->BitBtn1Click();
    EXPECT_TRUE(window->runUnderWay());
    waitForRunEnd();
    EXPECT_EQ(takeErrorDialogs(), QStringList{"unsuccessful metadata update."});
    expectWindowGivenBack();

    // The next click starts a new run.
    onRun();
    clickRun();
    EXPECT_EQ(modes.size(), 3);
}

TEST_F(RunDriver, HostShowsWhatTheStepsReport) {
    RunChannel channel(*window, QStringLiteral("75"), QStringLiteral("9, 30"));
    RunHost& host = channel;
    host.setStatus(QStringLiteral("Importando os bens."));
    host.setGaugeMaximum(3);
    host.setGaugeMinimum(0);
    host.setGaugeProgress(2);
    host.setWork(QStringLiteral("12345 de 67890"));
    host.pause(1000);
    host.showMessage(QStringLiteral("Importação concluída."));
    channel.deliver();
    window->openFolder(QStringLiteral("/tmp/Imagens_Depois/"));
    window->setLogButtonEnabled(true);

    EXPECT_EQ(ui().LblStatus->text(), QStringLiteral("Importando os bens."));
    EXPECT_EQ(ui().LblWork->text(), QStringLiteral("12345 de 67890"));
    // The counter label grows with its text instead of cutting it off.
    EXPECT_GE(ui().LblWork->width(),
              ui().LblWork->fontMetrics().horizontalAdvance(ui().LblWork->text()));
    EXPECT_EQ(host.gaugeMaximum(), 3);
    EXPECT_EQ(host.gaugeProgress(), 2);
    EXPECT_EQ(ui().Gauge1->percent(), 66);
    EXPECT_EQ(pauses, QList<int>{1000});
    EXPECT_EQ(messages, QStringList{"Importação concluída."});
    EXPECT_EQ(openedFolders, QStringList{"/tmp/Imagens_Depois/"});
    EXPECT_TRUE(ui().BtnLOG->isEnabled());

    // The inputs are those of the run's start, whatever the boxes hold now.
    ui().Edit3->setText(QStringLiteral("10"));
    ui().EdtBensIgnorados->setText(QString());
    EXPECT_EQ(host.qualityText(), QStringLiteral("75"));
    EXPECT_EQ(host.skipListText(), QStringLiteral("9, 30"));

    window->setRunEnabled(false);
    EXPECT_FALSE(ui().BitBtn1->isEnabled());
    EXPECT_FALSE(ui().Ck_Apenas_Tratar_Imagem->isEnabled());
}

TEST_F(RunDriver, InputWaitingIsHandledWhileTheRunWorks) {
    // A keystroke that arrives while a step works is handled at once, not after the step.
    std::atomic<bool> handled = false;
    ui().MemoLOG->clear();
    onRun([&](RunHost&) {
        QElapsedTimer t;
        t.start();
        while (!handled && t.elapsed() < 5000) QThread::msleep(1);
    });
    QObject::connect(ui().MemoLOG, &QTextEdit::textChanged, window.get(), [&] { handled = true; });
    QTimer::singleShot(50, window.get(), [this] {
        QCoreApplication::postEvent(
            ui().MemoLOG, new QKeyEvent(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, "5"));
    });
    clickRun();
    EXPECT_TRUE(handled);
    EXPECT_EQ(ui().MemoLOG->toPlainText(), QStringLiteral("5"));
}

// Where a run waits on the window: a question, a message, a pause made on the window's thread
// (as tests make it) and a real pause on the run's own.
enum class Wait { Question, Message, WindowPause, RealPause };

const QString kQuestion = QStringLiteral("Continuar?");

void waitOn(RunHost& host, Wait wait) {
    switch (wait) {
        case Wait::Question:
            host.askYesNo(kQuestion);
            break;
        case Wait::Message:
            host.showMessage(QStringLiteral("Aviso."));
            break;
        case Wait::WindowPause:
            host.pause(1000);
            break;
        case Wait::RealPause:
            host.pause(400);
            break;
    }
}

class RunWaiting : public RunDriver, public ::testing::WithParamInterface<Wait> {
protected:
    // What the run was answered, as the window recorded it.
    QStringList answered() const {
        switch (GetParam()) {
            case Wait::Question:
                return asked.filter(kQuestion);
            case Wait::Message:
                return messages;
            case Wait::WindowPause:
                return pauses.size() == 1 ? QStringList{"1000"} : QStringList{};
            case Wait::RealPause:
                return {QStringLiteral("-")};
        }
        return {};
    }
    QStringList expectedAnswer() const {
        switch (GetParam()) {
            case Wait::Question:
                return {kQuestion};
            case Wait::Message:
                return {QStringLiteral("Aviso.")};
            case Wait::WindowPause:
                return {QStringLiteral("1000")};
            case Wait::RealPause:
                return {QStringLiteral("-")};
        }
        return {};
    }
};

// Closed while the run waits there: the close question comes, "Sim" is seen by the run once
// its wait is over, and the window closes after the run.
TEST_P(RunWaiting, ClosingTheWindowThereStopsTheRunAndClosesTheWindowAfterIt) {
    const Wait wait = GetParam();
    WindowSeams& s = window->seams();
    auto close = [this] { window->close(); };
    s.ask = [this, close](const QString& question) {
        asked << question;
        if (question == kQuestion) close();
        return question == TFrmImportador::kStopQuestion;
    };
    s.message = [this, close](const QString& text) {
        messages << text;
        close();
    };
    s.pause = [this, close](int ms) {
        pauses << ms;
        close();
    };
    QTimer closer;
    if (wait == Wait::RealPause) {
        s.pause = nullptr;
        closer.setSingleShot(true);
        QObject::connect(&closer, &QTimer::timeout, window.get(), close);
    }
    std::atomic<bool> stopSeen = false;
    onRun([&](RunHost& host) {
        if (wait == Wait::RealPause) onWindow([&] { closer.start(100); });
        waitOn(host, wait);
        stopSeen = host.stopRequested();
    });
    clickRun();
    QCoreApplication::processEvents();  // the close queued at the run's end

    EXPECT_EQ(answered(), expectedAnswer());
    EXPECT_EQ(asked.filter(TFrmImportador::kStopQuestion).size(), 1);
    EXPECT_TRUE(stopSeen);
    EXPECT_FALSE(window->isVisible());
}

// The program torn down while the run waits there: the window answers what the run waits for,
// the run sees the stop, and the window is gone once the run has ended.
TEST_P(RunWaiting, TearingTheWindowDownThereAnswersTheRunAndStopsIt) {
    const Wait wait = GetParam();
    if (wait == Wait::RealPause) window->seams().pause = nullptr;
    std::atomic<bool> waiting = false;
    std::atomic<bool> stopSeen = false;
    window->seams().run = [&](const RunRequest&, RunHost& host, RunOutcome&) {
        waiting = true;
        waitOn(host, wait);
        stopSeen = host.stopRequested();
    };
    window->BitBtn1Click();
    // The window's thread takes no event until the teardown: the run is held in its wait.
    while (!waiting) QThread::msleep(1);
    QThread::msleep(50);
    window.reset();

    EXPECT_EQ(answered(), expectedAnswer());
    EXPECT_TRUE(stopSeen);
}

std::string waitName(const ::testing::TestParamInfo<Wait>& info) {
    switch (info.param) {
        case Wait::Question:
            return "Question";
        case Wait::Message:
            return "Message";
        case Wait::WindowPause:
            return "WindowPause";
        case Wait::RealPause:
            return "RealPause";
    }
    return {};
}

INSTANTIATE_TEST_SUITE_P(Waits, RunWaiting,
                         ::testing::Values(Wait::Question, Wait::Message, Wait::WindowPause,
                                           Wait::RealPause),
                         waitName);

TEST(RunDriverPause, ProductionPauseReallyWaitsOnTheRunsThread) {
    TFrmImportador w;
    RunChannel channel(w, {}, {});
    QElapsedTimer t;
    t.start();
    channel.pause(120);
    EXPECT_GE(t.elapsed(), 115);
}

}  // namespace patrimonio::test
