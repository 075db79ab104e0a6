#pragma once
// The few things the window does that would block or leave the program in a test: modal boxes,
// the file dialog, the real pause, the desktop's folder view, and the run itself. Production
// keeps the defaults; tests replace members.

#include <QString>
#include <functional>

#include "core/RunHost.h"
#include "runs/RunSession.h"

namespace patrimonio {

// What the run button hands to a run: the mode read at the click and the database fields'
// texts of that moment.
struct RunRequest {
    bool photoOnly = false;
    QString sourceText;  // Edit4
    QString targetText;  // Edit2
};

struct WindowSeams {
    // Modal message with an OK button; returns when the operator closes it.
    std::function<void(const QString& text)> message;
    // Modal question with the buttons "Sim" and "Não"; true for "Sim".
    std::function<bool(const QString& question)> ask;
    // The file-open dialog; an empty result means the operator cancelled.
    std::function<QString()> chooseFile;
    // Empty in production: a run's pause is a wait of the run's own thread. When set, a pause
    // calls it on the window's thread instead, and the run goes on when it returns.
    std::function<void(int milliseconds)> pause;
    // Opens a folder on the desktop.
    std::function<void(const QString& path)> openFolder;
    // One whole run of the run button, on the run's own thread: it reports and asks through
    // `host` and leaves in `outcome` what the window does after it.
    std::function<void(const RunRequest& request, RunHost& host, RunOutcome& outcome)> run;
    // Threads that recompress the photos of a run: one per core; 0 recompresses them one at a
    // time on the run's thread.
    int photoWorkers = 1;
};

}  // namespace patrimonio
