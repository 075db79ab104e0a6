#pragma once
// Clicks the run button of a window and lets it handle its events until the run has ended, as
// the program's own message loop would.

#include <QCoreApplication>

#include "app/TFrmImportador.h"

namespace patrimonio::bench {

inline void runThroughWindow(TFrmImportador& window) {
    window.BitBtn1Click();
    while (window.runUnderWay())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace patrimonio::bench
