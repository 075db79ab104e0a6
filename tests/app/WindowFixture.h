#pragma once
// A shown main window whose modal boxes, file dialog, pause and folder view are recorded
// instead of waiting for an operator.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <memory>

#include "QtEnvironment.h"
#include "TestDatabase.h"
#include "app/TFrmImportador.h"
#include "core/AppPaths.h"
#include "ui_FrmImportador.h"

namespace patrimonio::test {

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        takeErrorDialogs();
        setExecutableDirForTesting(folder.path());
        window = std::make_unique<TFrmImportador>();
        WindowSeams& s = window->seams();
        s.message = [this](const QString& text) { messages << text; };
        s.chooseFile = [this] { return chosenFile; };
        s.pause = [this](int ms) { pauses << ms; };
        s.openFolder = [this](const QString& path) { openedFolders << path; };
        // A "Sim"/"Não" question is recorded and answered `sim` ("Não", the default button,
        // unless a test says otherwise).
        s.ask = [this](const QString& question) {
            asked << question;
            return sim;
        };
        window->show();
    }
    void TearDown() override {
        window.reset();
        setExecutableDirForTesting({});
    }

    const Ui::TFrmImportador& ui() const { return window->ui(); }

    // Clicks the run button, as the operator does, and lets the window handle its events until
    // the run has ended and the window is given back.
    void clickRun() {
        QTest::mouseClick(ui().BitBtn1, Qt::LeftButton);
        waitForRunEnd();
    }
    void waitForRunEnd() {
        while (window->runUnderWay())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }

    TempFolder folder;
    std::unique_ptr<TFrmImportador> window;
    QStringList messages;
    QString chosenFile;
    QList<int> pauses;
    QStringList openedFolders;
    QStringList asked;
    bool sim = false;
};

}  // namespace patrimonio::test
