// The default error dialog: what escapes an event handler is shown, a silent abort is not,
// and the window goes on.

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

#include "QtEnvironment.h"
#include "app/ErrorDialog.h"
#include "core/Errors.h"

namespace patrimonio::test {

TEST(ErrorDialog, AddsAFullStopOnlyAfterCharactersAboveIt) {
    struct Case {
        const char* message;
        const char* shown;
    };
    const Case cases[] = {
        {"Falhou", "Falhou."},
        {"Falhou.", "Falhou."},
        {"Falhou!", "Falhou!"},
        {"arquivo (x)", "arquivo (x)"},
        {"lista: 1,", "lista: 1,"},
        {"valor -", "valor -"},
        {"C:/dados/", "C:/dados/."},
        {"código 12", "código 12."},
        {"operação", "operação."},
        {"", ""},
        {"fim ", "fim "},
        {"SQLSTATE = 42000", "SQLSTATE = 42000."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(errorDialogText(QString::fromUtf8(c.message)), QString::fromUtf8(c.shown))
            << c.message;
    }
}

namespace {

// A widget whose mouse handler raises whatever the test sets.
class ThrowingWidget : public QWidget {
public:
    std::function<void()> onPress;
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override {
        ++presses;
        if (onPress) onPress();
    }
};

}  // namespace

TEST(ErrorDialog, ErrorsLeavingEventHandlersAreShownAndTheLoopGoesOn) {
    takeErrorDialogs();
    ThrowingWidget w;
    w.resize(50, 50);
    w.show();

    struct Case {
        std::function<void()> raise;
        QStringList shown;
    };
    const Case cases[] = {
        {[] { throw AppError(QStringLiteral("Conexão recusada")); }, {"Conexão recusada."}},
        {[] { throw DatabaseError(QStringLiteral("violation of PRIMARY KEY"), "23000"); },
         {"violation of PRIMARY KEY."}},
        {[] { throw std::runtime_error("disk full"); }, {"disk full."}},
        {[] { throw SilentAbort(); }, {}},
        {[] {}, {}},
    };
    int presses = 0;
    for (const Case& c : cases) {
        w.onPress = c.raise;
        QTest::mouseClick(&w, Qt::LeftButton);
        EXPECT_EQ(w.presses, ++presses);
        EXPECT_EQ(takeErrorDialogs(), c.shown);
    }
}

}  // namespace patrimonio::test
