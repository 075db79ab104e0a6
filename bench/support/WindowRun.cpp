#include "WindowRun.h"

#include <QCoreApplication>
#include <QLineEdit>

#include "BenchTiming.h"
#include "LoopWatch.h"
#include "app/Application.h"
#include "app/TFrmImportador.h"
#include "app/Theme.h"

namespace patrimonio::bench {

int windowBenchMain(int argc, char** argv, const char* name, const BenchBody& body) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    installFontSubstitutes();
    applyTheme(app, QStringLiteral("Light"));
    return runBench(name, Args(argc, argv), body);
}

void prepareWindow(TFrmImportador& window, QStringList* messages, bool realPauses) {
    window.resize(TFrmImportador::kClientWidth, TFrmImportador::kClientHeight);
    if (messages) window.seams().message = [messages](const QString& text) { *messages << text; };
    if (!realPauses) window.seams().pause = [](int) {};
    // "Não" to every question (the compaction offered after a pass, the way back): what it
    // would start is not what a benchmark measures, and an unanswered question holds the run.
    window.seams().ask = [](const QString&) { return false; };
    window.seams().openFolder = [](const QString&) {};
    window.show();
}

void runThroughWindow(TFrmImportador& window) {
    window.BitBtn1Click();
    while (window.runUnderWay())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

WindowRun importThroughWindow(const DatabasePair& pair) {
    TFrmImportador window;
    QStringList messages;
    prepareWindow(window, &messages);
    window.findChild<QLineEdit*>(QStringLiteral("Edit4"))->setText(pair.source);
    window.findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(pair.target);
    WindowRun run;
    test::LoopWatch watch;
    run.seconds = secondsOf([&] { runThroughWindow(window); });
    run.longestUnansweredMs = watch.longestMs();
    run.lastMessage = messages.value(messages.size() - 1).simplified();
    return run;
}

}  // namespace patrimonio::bench
