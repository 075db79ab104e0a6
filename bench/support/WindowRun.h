#pragma once
// The real window driven as the operator drives it, for benchmarks: its start-up, a run
// clicked and its events handled until the run has ended, and a whole import through it.

#include <QString>
#include <QStringList>

#include "BenchDatabases.h"
#include "BenchMain.h"

namespace patrimonio {
class TFrmImportador;
}

namespace patrimonio::bench {

// main() of a benchmark that opens the window: the offscreen platform unless another is
// chosen, the program's application, fonts and theme, then runBench.
int windowBenchMain(int argc, char** argv, const char* name, const BenchBody& body);

// Sized as the operator sees it and shown; the messages the run shows go to `messages`, its
// questions are answered "Não", the folders it would open stay closed and its pauses last
// nothing unless `realPauses`.
void prepareWindow(TFrmImportador& window, QStringList* messages, bool realPauses = false);

// Clicks the run button and lets the window handle its events until the run has ended, as the
// program's own message loop would.
void runThroughWindow(TFrmImportador& window);

struct WindowRun {
    double seconds = 0;
    qint64 longestUnansweredMs = 0;  // the longest the window went without answering
    QString lastMessage;             // simplified
};

// A whole import of `pair` through a window of its own: both fields typed, the button clicked.
WindowRun importThroughWindow(const DatabasePair& pair);

}  // namespace patrimonio::bench
