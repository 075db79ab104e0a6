// What the window costs a run, through the real window (the offscreen platform unless another is
// chosen), with the pauses at zero and the message boxes answered through the seams. Run by hand
// with the private server up:
//   window_bench [extra depreciation rows=200400] [reported rows=200000]
// 1. Reporting alone: a step's reporting for `reported rows` rows (gauge range, then per row the
//    gauge position, the row counter and a pump) through the window, against the same calls to
//    a host that does nothing. The window should add nothing measurable.
// 2. A whole import of the demo register, and of the same register holding `extra` more
//    depreciation rows: the time the extra rows add, against the honest bare row-by-row copy of
//    those rows (support/BareCopy.h: one prepared INSERT per row, a commit every 500) on the same
//    server in the same run, each on fresh copies of the same files. The goal: the bare copy at
//    least 3.5 times the added time.

#include <cstdio>

#include "BareCopy.h"
#include "BenchTiming.h"
#include "QuietHost.h"
#include "WindowRun.h"
#include "app/TFrmImportador.h"
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

void reportingAlone(int reported) {
    TFrmImportador window;
    prepareWindow(window, nullptr);
    QuietHost none(QuietHost::LogLines::Dropped);
    // The run's reporting on its own thread, the window taking it once per frame.
    window.seams().run = [reported](const RunRequest&, RunHost& host, RunOutcome&) {
        report(host, reported);
    };
    const std::vector<double> best =
        bestOf(2, {[&] { return secondsOf([&] { runThroughWindow(window); }); },
                   [&] { return secondsOf([&] { report(none, reported); }); }});
    std::printf("1. reporting %d rows: window %.3f s, no window %.3f s: %.2f us per row\n",
                reported, best[0], best[1], (best[0] - best[1]) / reported * 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    return windowBenchMain(argc, argv, "window_bench", [](const Args& args, Workspace& work) {
        const int extra = args.number(1, 200400);
        reportingAlone(args.number(2, 200000));

        // 2. A whole import with and without the extra rows.
        const int base = 240;  // the demo register's depreciations
        const DatabasePair small = makeGrownPair(work.path(), QStringLiteral("demo"), base);
        const DatabasePair big = makeGrownPair(work.path(), QStringLiteral("grande"), base + extra);
        const QByteArray depColumns =
            "DEP_CODIGO, BEM_CODIGO, DC_CODIGO, DEP_DATA, DEP_VALOR, DEP_VALOR_ACUMULADO, DEP_TAXA";
        WindowRun smallRun, bigRun;
        qint64 longestUnanswered = 0;
        const std::vector<double> best = bestOf(
            2, {[&] {
                    smallRun = importThroughWindow(freshCopy(small, QStringLiteral("demo-run")));
                    longestUnanswered = std::max(longestUnanswered, smallRun.longestUnansweredMs);
                    return smallRun.seconds;
                },
                [&] {
                    bigRun = importThroughWindow(freshCopy(big, QStringLiteral("grande-run")));
                    longestUnanswered = std::max(longestUnanswered, bigRun.longestUnansweredMs);
                    return bigRun.seconds;
                },
                [&] {
                    // The bare copy of all the rows into a target as the import found it, with
                    // the controls they name, counted for the extra rows alone.
                    const DatabasePair bare = freshCopy(big, QStringLiteral("grande-bare"));
                    emptyTable(bare.target, "PAT_DEPRECIACAO_CONTROLE");
                    bareCopy(bare, "PAT_DEPRECIACAO_CONTROLE", {}, Commits::Every500Rows);
                    return bareCopy(bare, "PAT_DEPRECIACAO", depColumns, Commits::Every500Rows)
                               .seconds *
                           extra / static_cast<double>(base + extra);
                }});
        const double added = best[1] - best[0], bareS = best[2];
        std::printf(
            "2. whole import through the window: %.1f s, with %d more depreciations "
            "%.1f s (ended \"%s\")\n",
            best[0], extra, best[1], qPrintable(bigRun.lastMessage));
        std::printf(
            "   added %.2f s (%.0f rows/s); honest bare copy of those rows %.2f s "
            "(%.0f rows/s)\n",
            added, perSecond(extra, added), bareS, perSecond(extra, bareS));
        bool ok = resultLine(QStringLiteral("through the window against the bare copy"),
                             bareS / added, "x", atLeast(3.5));
        ok = resultLine(QStringLiteral("longest the window went without answering"),
                        static_cast<double>(longestUnanswered), " ms", atMost(250)) &&
             ok;
        return ok ? 0 : 2;
    });
}
