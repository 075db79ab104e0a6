#include "ErrorDialog.h"

#include <QApplication>
#include <QMessageBox>

#include "core/Errors.h"

namespace patrimonio {

namespace {

ErrorPresenter& presenter() {
    static ErrorPresenter p;
    return p;
}

void showStopBox(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

}  // namespace

QString errorDialogText(const QString& message) {
    if (!message.isEmpty() && message.back() > u'.') return message + u'.';
    return message;
}

void showErrorDialog(std::exception_ptr error) {
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const SilentAbort&) {
        return;
    } catch (const AppError& e) {
        message = e.message();
    } catch (const std::exception& e) {
        message = QString::fromLocal8Bit(e.what());
    } catch (...) {
        message = QStringLiteral("Erro desconhecido");
    }
    const QString text = errorDialogText(message);
    if (presenter()) {
        presenter()(kApplicationTitle, text);
    } else {
        showStopBox(kApplicationTitle, text);
    }
}

void setErrorPresenterForTesting(ErrorPresenter p) {
    presenter() = std::move(p);
}

}  // namespace patrimonio
