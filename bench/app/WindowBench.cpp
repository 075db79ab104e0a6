// What the window costs a run, through the real window (the offscreen platform unless another is
// chosen), with the pauses at zero and the message boxes answered through the seams. Run by hand
// with the private server up:
//   window_bench [extra depreciation rows=200000] [reported rows=200000]
// 1. Reporting alone: a step's reporting for `reported rows` rows (gauge range, then per row the
//    gauge position, the row counter and a pump) through the window, against the same calls to
//    a host that does nothing. The window should add nothing measurable.
// 2. A whole import of the demo register, and of the same register holding `extra` more
//    depreciation rows: the time the extra rows add, against a bare row-by-row copy of those
//    rows (one prepared INSERT per row, a commit every 500) on the same server in the same run.
//    The goal: the added time at most a fifth of the bare copy's.

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <cstdio>

#include "BenchDatabases.h"
#include "LoopWatch.h"
#include "QuietHost.h"
#include "TestDatabase.h"
#include "WindowRun.h"
#include "app/Application.h"
#include "app/TFrmImportador.h"
#include "app/Theme.h"
#include "core/AppPaths.h"
#include "core/StatusConvention.h"

using namespace patrimonio;
using namespace patrimonio::bench;

namespace {

// A step's reporting for `rows` rows, as the plain copy steps report.
void report(RunReport& host, int rows) {
    openPhase(host, QStringLiteral("Importando as depreciações."));
    setRangeMinFirst(host, rows);
    for (int j = 0; j < rows; ++j) {
        host.setGaugeProgress(j);
        if (j + 1 < rows) showRowCounter(host, j);
        keepAlive(host);
    }
    closePhase(host);
}

// The generator's register with `depreciations` depreciation rows, and a target holding its
// own organs.
DatabasePair makePair(const QTemporaryDir& tmp, const QString& name, int depreciations) {
    const DatabasePair p = makeDatabasePair(tmp.path(), name, SourceView::With);
    generateRegister({QStringLiteral("--source"), p.source, QStringLiteral("--rows"),
                      QStringLiteral("PAT_DEPRECIACAO=%1").arg(depreciations)});
    generateRegister({QStringLiteral("--target"), p.target});
    return p;
}

// One whole import through the window: both fields typed, the run button clicked.
// The longest the window went without answering during any import through it.
qint64 longestUnanswered = 0;

double importThroughWindow(const DatabasePair& p, QString* lastMessage) {
    TFrmImportador window;
    window.resize(TFrmImportador::kClientWidth, TFrmImportador::kClientHeight);
    QStringList messages;
    window.seams().message = [&](const QString& text) { messages << text; };
    window.seams().pause = [](int) {};
    window.seams().openFolder = [](const QString&) {};
    window.show();
    window.findChild<QLineEdit*>(QStringLiteral("Edit4"))->setText(p.source);
    window.findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(p.target);
    QElapsedTimer t;
    t.start();
    test::LoopWatch watch;
    runThroughWindow(window);
    const double s = static_cast<double>(t.nsecsElapsed()) / 1e9;
    longestUnanswered = std::max(longestUnanswered, watch.longestMs());
    *lastMessage = messages.value(messages.size() - 1);
    return s;
}

void emptyTable(const QString& database, const QByteArray& table) {
    test::runIsql("DELETE FROM " + table + ";\ncommit;\n", database);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    installFontSubstitutes();
    applyTheme(app, QStringLiteral("Light"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int extra = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int reported = argc > 2 ? std::atoi(argv[2]) : 200000;
    QTemporaryDir tmp;
    setExecutableDirForTesting(tmp.filePath(QStringLiteral("programa")));

    // 1. Reporting alone.
    {
        TFrmImportador window;
        window.resize(TFrmImportador::kClientWidth, TFrmImportador::kClientHeight);
        window.seams().pause = [](int) {};
        window.show();
        QuietHost none(QuietHost::LogLines::Dropped);
        // The run's reporting on its own thread, the window taking it once per frame.
        window.seams().run = [reported](const RunRequest&, RunHost& host, RunOutcome&) {
            report(host, reported);
        };
        double windowS = 1e9, noneS = 1e9;
        for (int round = 0; round < 2; ++round) {
            QElapsedTimer t;
            t.start();
            runThroughWindow(window);
            windowS = std::min(windowS, static_cast<double>(t.nsecsElapsed()) / 1e9);
            t.restart();
            report(none, reported);
            noneS = std::min(noneS, static_cast<double>(t.nsecsElapsed()) / 1e9);
        }
        std::printf("1. reporting %d rows: window %.3f s, no window %.3f s: %.2f us per row\n",
                    reported, windowS, noneS, (windowS - noneS) / reported * 1e6);
    }

    // 2. A whole import with and without the extra rows.
    try {
        const int base = 240;  // the demo register's depreciations
        const DatabasePair small = makePair(tmp, QStringLiteral("demo"), base);
        const DatabasePair big = makePair(tmp, QStringLiteral("grande"), base + extra);
        const QByteArray depColumns =
            "DEP_CODIGO, BEM_CODIGO, DC_CODIGO, DEP_DATA, DEP_VALOR, DEP_VALOR_ACUMULADO, DEP_TAXA";
        QString smallEnd, bigEnd;
        double smallS = 1e9, bigS = 1e9, bareS = 1e9;
        for (int round = 0; round < 2; ++round) {
            smallS = std::min(smallS, importThroughWindow(small, &smallEnd));
            bigS = std::min(bigS, importThroughWindow(big, &bigEnd));
            // The bare copy of the extra rows alone, into the emptied table.
            emptyTable(big.target, "PAT_DEPRECIACAO");
            bareS = std::min(
                bareS, bareCopy(big, depColumns, "PAT_DEPRECIACAO", Commits::Every500Rows) * extra /
                           static_cast<double>(base + extra));
        }
        const double added = bigS - smallS;
        std::printf(
            "2. whole import through the window: %.1f s, with %d more depreciations "
            "%.1f s (ended \"%s\")\n",
            smallS, extra, bigS, qPrintable(bigEnd.simplified()));
        std::printf(
            "   added %.1f s; bare copy of those rows %.1f s; added / bare %.2f "
            "(goal 0.20 at most): %s\n",
            added, bareS, added / bareS, added <= bareS / 5 ? "ok" : "SHORT");
        std::printf("   the window went at most %lld ms without answering (goal 250 at most): %s\n",
                    static_cast<long long>(longestUnanswered),
                    longestUnanswered <= 250 ? "ok" : "SHORT");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "window_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
