// The copy of the target an import saves before its purge: restored with Firebird's own tool by
// the command the log view gives, it holds the target as it was before the run, after a run that
// completed and after one stopped in the middle of the purge; a copy that cannot be made stops
// the run before anything is deleted, with the reason, and leaves nothing behind.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <iostream>
#include <memory>

#include "FullFolder.h"
#include "HomeFor.h"
#include "QStringPrinter.h"
#include "RegisterPair.h"
#include "core/AppPaths.h"
#include "core/Errors.h"

namespace patrimonio::test {
namespace {

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// A target that holds a whole register and rows of its own that the next purge removes.
class TargetCopy : public ::testing::Test {
protected:
    void SetUp() override {
        pair.generate({}, true, true);
        ASSERT_EQ(pair.run.run(), ImportEnd::Completed);
        runIsql(
            "INSERT INTO PAT_TIPOBEM (TB_CODIGO, TB_DESCRICAO) VALUES (900, 'Antigo');\n"
            "INSERT INTO PAT_TRANSFERENCIA (TRA_CODIGO, BEM_CODIGO) VALUES (77, 1);\n"
            "commit;\n",
            pair.targetPath);
        QDir(databaseCopiesFolder()).removeRecursively();
        before = databaseContents(pair.targetPath);
        ASSERT_GT(before.size(), 20);
    }

    // Restores the copy with the command its log line gives, into a new file.
    void expectCopyHoldsTheTargetAsItWas(const QStringList& log) {
        ASSERT_TRUE(run.targetCopy().has_value());
        const qsizetype line = log.indexOf(QRegularExpression(QStringLiteral(".*gbak -c .*")));
        ASSERT_GE(line, 0);
        const QStringList words =
            log[line].mid(log[line].indexOf(QStringLiteral("gbak -c "))).split(u'"');
        // gbak -c -user SYSDBA -password ... "<copy>" "<server>:<new file>"
        ASSERT_EQ(words.size(), 5) << log[line].toStdString();
        EXPECT_EQ(words[1], run.targetCopy()->path);
        const QString into = words[3].mid(words[3].indexOf(u':') + 1);
        EXPECT_FALSE(QFileInfo::exists(into));
        restoreBackup(words[1], into);
        EXPECT_EQ(databaseContents(into), before);
    }

    RegisterPair pair;
    StopAtStatusHost host;
    ImportRun run{pair.data, pair.counters, host};
    QStringList before;
};

TEST_F(TargetCopy, AfterACompletedImportTheCopyRestoresTheTargetAsItWas) {
    ASSERT_EQ(run.run(), ImportEnd::Completed);

    const QStringList files = filesIn(databaseCopiesFolder());
    ASSERT_EQ(files.size(), 1) << files.join(u',').toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^destino_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-"
                                                  "\\d\\d\\.fbk$"))
                    .match(files[0])
                    .hasMatch())
        << files[0].toStdString();
    EXPECT_EQ(run.targetCopy()->bytes, QFileInfo(run.targetCopy()->path).size());
    // The copy is made after its status and said before the purge starts.
    const QStringList& events = host.events;
    const qsizetype copying = events.indexOf(QStringLiteral("status:") + kTargetCopyStatus);
    const qsizetype said = events.indexOf(
        QRegularExpression(QStringLiteral("^log:Cópia do banco a ser atualizado.*")));
    const qsizetype purging = events.indexOf(QStringLiteral("status:Excluindo baixas."));
    ASSERT_GE(copying, 0);
    EXPECT_LT(copying, said);
    EXPECT_LT(said, purging);
    const QStringList log = host.eventsWith(QStringLiteral("log:"));
    // A completed run says it once.
    EXPECT_EQ(log.filter(QStringLiteral("Cópia do banco a ser atualizado")).size(), 1);

    EXPECT_NE(databaseContents(pair.targetPath), before);
    expectCopyHoldsTheTargetAsItWas(log);
}

TEST_F(TargetCopy, AStopInTheMiddleOfThePurgeSaysAgainWhereTheCopyIs) {
    host.stopAt = QStringLiteral("Excluindo BEM.");

    ASSERT_EQ(run.run(), ImportEnd::Stopped);

    EXPECT_EQ(pair.targetCount(QStringLiteral("PAT_BAIXA")), 0);
    EXPECT_GT(pair.targetCount(QStringLiteral("PAT_BEM")), 0);
    // Its last lines: the copy, its restore command, where the run stopped, the line break.
    const QStringList log = host.eventsWith(QStringLiteral("log:"));
    ASSERT_GE(log.size(), 6);
    EXPECT_TRUE(log[log.size() - 4].startsWith(QStringLiteral("Cópia do banco a ser atualizado")));
    EXPECT_TRUE(log[log.size() - 3].contains(QStringLiteral("gbak -c ")));
    EXPECT_TRUE(log[log.size() - 2].startsWith(
        QStringLiteral("Execução interrompida pelo operador durante a exclusão")));
    EXPECT_EQ(log.last(), QString());
    EXPECT_EQ(log.filter(QStringLiteral("Cópia do banco a ser atualizado")).size(), 2);
    expectCopyHoldsTheTargetAsItWas(log);
}

TEST_F(TargetCopy, ACopyThatCannotBeMadeStopsTheRunBeforeThePurgeWithTheReason) {
    const QString folder = QDir::cleanPath(databaseCopiesFolder());
    const struct {
        const char* label;
        bool fullDisk;
    } cases[] = {{"a full 1 MB disk", true}, {"a file where the folder should be", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        host.events.clear();
        std::unique_ptr<FullFolder> full;
        if (c.fullDisk) {
            full = std::make_unique<FullFolder>(folder);
            if (!full->mounted()) {
                std::cout << "[ SKIPPED  ] " << c.label << ": " << full->whyNot().toStdString()
                          << '\n';
                continue;
            }
        } else {
            QDir(folder).removeRecursively();
            QFile blocker(folder);
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        }
        try {
            run.run();
            ADD_FAILURE() << "the run went on without its copy";
        } catch (const AppError& e) {
            EXPECT_TRUE(e.message().startsWith(QStringLiteral(
                "A importação não foi iniciada e o banco a ser atualizado não foi alterado: não "
                "foi possível salvar uma cópia dele antes da exclusão (")))
                << e.message().toStdString();
        }
        EXPECT_TRUE(host.statuses().filter(QStringLiteral("Excluindo")).isEmpty());
        EXPECT_EQ(databaseContents(pair.targetPath), before);
        if (full) {
            EXPECT_EQ(full->entries(), QStringList());
        }
        full.reset();
        if (QFileInfo(folder).isFile()) QFile::remove(folder);
        EXPECT_EQ(filesIn(folder), QStringList());
    }
}

}  // namespace
}  // namespace patrimonio::test

namespace patrimonio::test {
namespace {

bool asRoot() {
    return ::geteuid() == 0;
}

// A folder this user may not write, as root never meets one: the run stops before the purge.
TEST_F(TargetCopy, AsOperatorACopiesFolderThatCannotBeWrittenStopsTheRunBeforeThePurge) {
    if (asRoot()) GTEST_SKIP() << "root writes into any folder";
    const QString folder = QDir::cleanPath(databaseCopiesFolder());
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    try {
        run.run();
        ADD_FAILURE() << "the run went on without its copy";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().startsWith(
            QStringLiteral("A importação não foi iniciada e o banco a ser atualizado não foi "
                           "alterado: não foi possível salvar uma cópia dele antes da exclusão (")))
            << e.message().toStdString();
    }
    EXPECT_TRUE(host.statuses().filter(QStringLiteral("Excluindo")).isEmpty());
    EXPECT_EQ(databaseContents(pair.targetPath), before);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_EQ(filesIn(folder), QStringList());
}

// An installed program's folder cannot be written: the copy goes to the operator's own folder,
// in a home the server's user cannot enter (0700), so the server streams it to the program.
TEST_F(TargetCopy, AsOperatorTheCopyGoesToTheOperatorsFolderWhereTheServerCannotWrite) {
    if (asRoot()) GTEST_SKIP() << "root writes into any folder";
    const QString installed = pair.folder.path(QStringLiteral("instalado"));
    ASSERT_TRUE(QDir().mkpath(installed));
    ASSERT_EQ(::chmod(QFile::encodeName(installed).constData(), 0555), 0);
    const QString home = pair.folder.path(QStringLiteral("casa"));
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_EQ(::chmod(QFile::encodeName(home).constData(), 0700), 0);
    const HomeFor homeFor(home);
    const QString previous = executableDirForTesting();
    setExecutableDirForTesting(installed);
    const FilesFolder files = chooseFilesFolder();
    EXPECT_EQ(files.path, home + QStringLiteral("/Importador patrimônio/"));

    ASSERT_EQ(run.run(), ImportEnd::Completed);

    ASSERT_TRUE(run.targetCopy().has_value());
    EXPECT_TRUE(run.targetCopy()->path.startsWith(files.path + QStringLiteral("Bancos_Antes/")));
    EXPECT_EQ(QFileInfo(run.targetCopy()->path).ownerId(), ::geteuid());
    EXPECT_TRUE(filesIn(installed).isEmpty());
    expectCopyHoldsTheTargetAsItWas(host.eventsWith(QStringLiteral("log:")));
    setExecutableDirForTesting(previous);
    ::chmod(QFile::encodeName(installed).constData(), 0755);
}

}  // namespace
}  // namespace patrimonio::test
