#include "QtEnvironment.h"

#include <gtest/gtest.h>

#include "app/Application.h"
#include "app/ErrorDialog.h"
#include "app/Theme.h"

namespace patrimonio::test {

namespace {

QStringList& shownErrors() {
    static QStringList errors;
    return errors;
}

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "app_tests";
        static char* argv[] = {name, nullptr};
        app_ = new Application(argc, argv);
        installFontSubstitutes();
        applyTheme(*app_, QStringLiteral("Light"));
        setErrorPresenterForTesting([](const QString& title, const QString& text) {
            EXPECT_EQ(title, kApplicationTitle);
            shownErrors() << text;
        });
    }
    void TearDown() override {
        setErrorPresenterForTesting({});
        delete app_;
    }

private:
    Application* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

QStringList takeErrorDialogs() {
    QStringList out;
    out.swap(shownErrors());
    return out;
}

}  // namespace patrimonio::test
