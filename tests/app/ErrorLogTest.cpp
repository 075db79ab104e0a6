// The log view as the photo-only pass drives it through RunHost, and "Salvar Log": the file
// beside the executable, read back by a real RTF reader, and the errors when it cannot be saved.

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include "FullFolder.h"
#include "RtfUnrtf.h"
#include "WindowFixture.h"
#include "app/RunChannel.h"
#include "core/Errors.h"
#include "core/LogView.h"

namespace patrimonio::test {

namespace {

const QString kSaved = QStringLiteral("LOG criada com sucesso, salvo junto a este executável.");

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

using ErrorLog = WindowFixture;

TEST_F(ErrorLog, ViewKeepsWhatTheRunWritesInOneFormat) {
    RunChannel channel(*window, {}, {});
    RunHost& host = channel;
    struct Step {
        const char* typedFirst;  // what the operator typed before, or null
        const char* code;
        const char* shown;
    };
    const Step steps[] = {
        {nullptr, "12", "12"},
        {nullptr, "40", "12 - 40"},
        {"   \n ", "7", "7"},               // blanks typed into the view count as empty
        {"revisar:", "9", "revisar: - 9"},  // typed text stays
    };
    for (const Step& s : steps) {
        if (s.typedFirst) ui().MemoLOG->setPlainText(QString::fromUtf8(s.typedFirst));
        appendLogCode(host, QString::fromUtf8(s.code));
        channel.deliver();
        EXPECT_EQ(ui().MemoLOG->toPlainText(), QString::fromUtf8(s.shown));
    }
    EXPECT_EQ(ui().MemoLOG->document()->blockCount(), 1);
    EXPECT_EQ(ui().MemoLOG->currentFont().pixelSize(), 11);
}

TEST_F(ErrorLog, AppendedLinesArePlainParagraphsAtTheEnd) {
    RunChannel channel(*window, {}, {});
    RunHost& host = channel;
    host.appendLogLine(QStringLiteral("PAT_BEM: linha 3 recusada <violation of PRIMARY KEY>"));
    host.appendLogLine(QStringLiteral("Importados 2 de 3."));
    EXPECT_EQ(host.logText(),
              QStringLiteral("PAT_BEM: linha 3 recusada <violation of PRIMARY KEY>\n"
                             "Importados 2 de 3."));
    EXPECT_EQ(ui().MemoLOG->document()->blockCount(), 2);
}

TEST_F(ErrorLog, SaveWritesTheViewAsRtfBesideTheExecutable) {
    window->setLogText(QString::fromUtf8("12 - 40 - 1033 ação"));
    const QString path = folder.path(QStringLiteral("Log_Imagens_Com_Erro.txt"));
    // An older, longer log is replaced, not appended to.
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5000, 'x'));
    }
    window->BtnLOGClick();
    const QByteArray first = readFile(path);
    EXPECT_TRUE(first.startsWith("{\\rtf1")) << "no byte-order mark or preamble";
    EXPECT_FALSE(first.contains("xxx"));
    EXPECT_TRUE(first.contains("Tahoma"));
    EXPECT_EQ(unrtfText(path), QString::fromUtf8("12 - 40 - 1033 ação"));
    EXPECT_EQ(messages, QStringList{kSaved});

    // "Salvar Log" twice: the same file twice, the confirmation twice.
    window->setLogButtonEnabled(true);
    QTest::mouseClick(ui().BtnLOG, Qt::LeftButton);
    EXPECT_EQ(readFile(path), first);
    EXPECT_EQ(messages, (QStringList{kSaved, kSaved}));
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
}

TEST_F(ErrorLog, AFileThatCannotBeCreatedIsReportedWithItsPath) {
    const QString missing = folder.path(QStringLiteral("sem-pasta"));
    setExecutableDirForTesting(missing);
    const QString path =
        QDir::toNativeSeparators(missing + QStringLiteral("/Log_Imagens_Com_Erro.txt"));
    window->setLogText(QStringLiteral("12"));
    try {
        window->BtnLOGClick();
        FAIL() << "saving into a missing folder succeeded";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)))
            << e.message().toStdString();
        EXPECT_GT(e.message().size(),
                  QStringLiteral("Cannot create file \"%1\". ").arg(path).size());
    }
    EXPECT_TRUE(messages.isEmpty());

    // From the button, the default error dialog shows it.
    window->setLogButtonEnabled(true);
    QTest::mouseClick(ui().BtnLOG, Qt::LeftButton);
    const QStringList shown = takeErrorDialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)));
    EXPECT_TRUE(shown[0].endsWith(u'.'));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ErrorLog, AWriteThatFailsIsReportedAsAFailedStreamAndKeepsTheLastLog) {
    // The executable's folder is on a disk with no space left, holding an earlier log.
    const QString full = folder.path(QStringLiteral("cheio"));
    FullFolder disk(full,
                    {{QStringLiteral("Log_Imagens_Com_Erro.txt"), QByteArray("{\\rtf1 12}")}});
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot().toStdString();
    setExecutableDirForTesting(full);
    window->setLogText(QString(20000, u'9'));
    try {
        window->BtnLOGClick();
        FAIL() << "writing to a full disk succeeded";
    } catch (const AppError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Failed to Save Stream"));
    }
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(readFile(full + QStringLiteral("/Log_Imagens_Com_Erro.txt")),
              QByteArray("{\\rtf1 12}"));
    EXPECT_EQ(disk.entries(), QStringList{"Log_Imagens_Com_Erro.txt"});
}

}  // namespace patrimonio::test
