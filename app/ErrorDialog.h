#pragma once
// The default error dialog: what the operator sees when an error leaves an event handler.

#include <QString>
#include <exception>
#include <functional>

namespace patrimonio {

inline const QString kApplicationTitle = QStringLiteral("Importador patrimônio");

// The message as the dialog shows it: a full stop is added when the last character's code is
// above that of '.', so "Falhou" gets one and "Falhou." or "Falhou!" do not.
QString errorDialogText(const QString& message);

// Shows the error held by the exception pointer in a modal stop box with an OK button and
// returns when the operator closes it. A silent abort shows nothing.
void showErrorDialog(std::exception_ptr error);

// Where the box goes: production shows a QMessageBox; tests record the text instead.
using ErrorPresenter = std::function<void(const QString& title, const QString& text)>;
void setErrorPresenterForTesting(ErrorPresenter presenter);

// Runs an event handler and shows whatever error leaves it, so that no exception unwinds
// through the toolkit's own frames; the window then waits for input again.
template <typename Handler>
void runHandler(Handler&& handler) {
    try {
        handler();
    } catch (...) {
        showErrorDialog(std::current_exception());
    }
}

}  // namespace patrimonio
