// The run button: the mode is read once, no run starts inside another, and the window is given
// back however a run ends.

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "WindowFixture.h"
#include "app/Gauge.h"
#include "core/Errors.h"
#include "core/StatusConvention.h"

namespace patrimonio::test {

class RunDriver : public WindowFixture {
protected:
    // Replaces the run itself; `during` runs inside it, as a step pumping messages would.
    void onRun(std::function<void()> during = {}) {
        window->seams().run = [this, during](bool photoOnly) {
            modes << photoOnly;
            runEnabledDuring = ui().BitBtn1->isEnabled();
            modeBoxEnabledDuring = ui().Ck_Apenas_Tratar_Imagem->isEnabled();
            window->pumpMessages();
            if (during) during();
        };
    }
    void expectWindowGivenBack() {
        EXPECT_TRUE(ui().BitBtn1->isEnabled());
        EXPECT_TRUE(ui().Ck_Apenas_Tratar_Imagem->isEnabled());
        EXPECT_FALSE(window->runUnderWay());
    }

    QList<bool> modes;
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
    onRun([&] {
        RunHost& host = *window;
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
    // Called directly: nothing handles the window's messages after the run.
    window->BitBtn1Click();
    const qint64 ms = clock.elapsed();

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
    QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
    ui().Ck_Apenas_Tratar_Imagem->setChecked(true);
    QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
    EXPECT_EQ(modes, (QList<bool>{false, true}));
    EXPECT_FALSE(runEnabledDuring);
    EXPECT_FALSE(modeBoxEnabledDuring);
    expectWindowGivenBack();
}

TEST_F(RunDriver, AClickDuringARunStartsNothing) {
    onRun([this] {
        QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
        ui().BitBtn1->click();
        window->BitBtn1Click();
        // The window enables the button after a photo-only pass's summary while the run goes on.
        window->setRunEnabled(true);
        QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
        window->pumpMessages();
    });
    QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
    EXPECT_EQ(modes.size(), 1);
    expectWindowGivenBack();
}

TEST_F(RunDriver, TickingTheBoxDuringARunChangesNothing) {
    onRun([this] {
        QTest::mouseClick(ui().Ck_Apenas_Tratar_Imagem, Qt::LeftButton);
        QTest::keyClick(ui().Ck_Apenas_Tratar_Imagem, Qt::Key_Space);
    });
    QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
    EXPECT_EQ(modes, QList<bool>{false});
    EXPECT_FALSE(ui().Ck_Apenas_Tratar_Imagem->isChecked());
    EXPECT_TRUE(ui().SpeedButton1->isEnabled());
    expectWindowGivenBack();
}

TEST_F(RunDriver, AnErrorEndsTheRunWithoutCompletionAndGivesTheWindowBack) {
    onRun([this] {
        window->setStatus(QStringLiteral("Importando os responsáveis."));
        throw DatabaseError(QStringLiteral("unsuccessful metadata update"));
    });
    QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
    EXPECT_EQ(takeErrorDialogs(), QStringList{"unsuccessful metadata update."});
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(ui().LblStatus->text(), QStringLiteral("Importando os responsáveis."));
    expectWindowGivenBack();

    // Called directly, the handler lets the error through to its caller, still giving back.
    EXPECT_THROW(window->BitBtn1Click(), DatabaseError);
    expectWindowGivenBack();

    // The next click starts a new run.
    onRun();
    QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
    EXPECT_EQ(modes.size(), 3);
}

TEST_F(RunDriver, HostShowsWhatTheStepsReport) {
    RunHost& host = *window;
    host.setStatus(QStringLiteral("Importando os bens."));
    host.setGaugeMaximum(3);
    host.setGaugeMinimum(0);
    host.setGaugeProgress(2);
    host.setWork(QStringLiteral("12345 de 67890"));
    host.pause(1000);
    host.showMessage(QStringLiteral("Importação concluída."));
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

    ui().Edit3->setText(QStringLiteral("75"));
    ui().EdtBensIgnorados->setText(QStringLiteral("9, 30"));
    EXPECT_EQ(host.qualityText(), QStringLiteral("75"));
    EXPECT_EQ(host.skipListText(), QStringLiteral("9, 30"));

    window->setRunEnabled(false);
    EXPECT_FALSE(ui().BitBtn1->isEnabled());
    EXPECT_FALSE(ui().Ck_Apenas_Tratar_Imagem->isEnabled());
}

TEST_F(RunDriver, PumpingHandlesWaitingInput) {
    // A keystroke posted while a step works is handled at the step's next pump.
    QCoreApplication::postEvent(ui().EdtBensIgnorados,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, "5"));
    window->pumpMessages();
    EXPECT_EQ(ui().EdtBensIgnorados->text(), QStringLiteral("5"));
}

TEST(RunDriverPause, ProductionPauseReallyWaits) {
    TFrmImportador w;
    QElapsedTimer t;
    t.start();
    w.pause(120);
    EXPECT_GE(t.elapsed(), 115);
}

}  // namespace patrimonio::test
