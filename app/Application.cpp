#include "Application.h"

#include "ErrorDialog.h"

namespace patrimonio {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(kApplicationTitle);
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
