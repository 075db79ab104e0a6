#include "Application.h"

#include "ErrorDialog.h"

namespace patrimonio {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(kApplicationTitle);
    // The installed menu entry's name: Wayland desktops match the window to its entry and icon
    // by it (X11 ones by the window class).
    setDesktopFileName(QStringLiteral("importador-patrimonio"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showErrorDialog(std::current_exception());
        return false;
    }
}

}  // namespace patrimonio
