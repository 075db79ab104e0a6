#pragma once
// A shown main window whose modal boxes, file dialog, pause and folder view are recorded
// instead of waiting for an operator.

#include <gtest/gtest.h>

#include <QStringList>
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
        window->show();
    }
    void TearDown() override {
        window.reset();
        setExecutableDirForTesting({});
    }

    const Ui::TFrmImportador& ui() const { return window->ui(); }

    TempFolder folder;
    std::unique_ptr<TFrmImportador> window;
    QStringList messages;
    QString chosenFile;
    QList<int> pauses;
    QStringList openedFolders;
};

}  // namespace patrimonio::test
