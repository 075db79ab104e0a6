#pragma once
// The few things the window does that would block or leave the program in a test: modal boxes,
// the file dialog, the real pause, the desktop's folder view, and the run itself. Production
// keeps the defaults; tests replace members.

#include <QString>
#include <functional>

namespace patrimonio {

struct WindowSeams {
    // Modal message with an OK button; returns when the operator closes it.
    std::function<void(const QString& text)> message;
    // Modal question with the buttons "Sim" and "Não"; true for "Sim".
    std::function<bool(const QString& question)> ask;
    // The file-open dialog; an empty result means the operator cancelled.
    std::function<QString()> chooseFile;
    // Waits on the spot without handling any window message.
    std::function<void(int milliseconds)> pause;
    // Opens a folder on the desktop.
    std::function<void(const QString& path)> openFolder;
    // One whole run of the run button in the mode read when it was clicked.
    std::function<void(bool photoOnly)> run;
    // Threads that recompress the photos of a run: one per core; 0 recompresses them one at a
    // time on the window's thread.
    int photoWorkers = 1;
};

}  // namespace patrimonio
