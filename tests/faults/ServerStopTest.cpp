// The server stopped in the middle of an import. The database string of import mode names the
// server on 127.0.0.1:3052, so this stops the private test server itself, from inside the run,
// and starts it again: the test runs alone (RUN_SERIAL), and the server is running again when
// it ends, on every path (here, and by a CTest clean-up after it). The copy of the target made
// before the purge, restored with the command the log view gives, holds the target as it was.

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTextEdit>
#include <csignal>

#include "FaultWindow.h"

namespace patrimonio::test {

namespace {

const QString kScripts = QStringLiteral(IMPORTADOR_SOURCE_DIR "/scripts/");
// Written by the suite's own server start: the server then belongs to this build's CTest run,
// and the one started again here must be stopped by its clean-up instead.
const QString kOwnerFile = QStringLiteral(IMPORTADOR_BINARY_DIR "/fbserver.owner");

QString serverRoot() {
    const QString root = qEnvironmentVariable("FB_ROOT");
    return root.isEmpty() ? QStringLiteral("/tmp/importador-fb") : root;
}

bool serverAnswers() {
    QProcess svc;
    svc.start(QStringLiteral("fbsvcmgr"),
              {QStringLiteral("127.0.0.1/3052:service_mgr"), QStringLiteral("-user"),
               QStringLiteral("SYSDBA"), QStringLiteral("-password"), kPassword,
               QStringLiteral("-info_server_version")});
    return svc.waitForFinished(30000) && svc.exitCode() == 0;
}

bool runScript(const QString& name, const QStringList& args = {}) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("bash"), QStringList{kScripts + name} + args);
    return p.waitForFinished(60000) && p.exitCode() == 0;
}

// Starts the server again unless it answers, handing it to whoever owned the stopped one.
class ServerBack {
public:
    ServerBack() : ownedBySuite_(QFile::exists(kOwnerFile)) {}
    ~ServerBack() { ensure(); }
    ServerBack(const ServerBack&) = delete;
    ServerBack& operator=(const ServerBack&) = delete;

    bool ensure() const {
        if (serverAnswers()) return true;
        return ownedBySuite_ ? runScript(QStringLiteral("fb-server-start.sh"),
                                         {QStringLiteral("--owner-file"), kOwnerFile})
                             : runScript(QStringLiteral("fb-server-start.sh"));
    }

private:
    bool ownedBySuite_;
};

const QString kAssetStep = QStringLiteral("Importando os bens.");
const QString kNullPhotos = QStringLiteral(
    "SELECT COUNT(*) FROM PAT_BEM WHERE BEM_IMAGEM IS NULL OR OCTET_LENGTH(BEM_IMAGEM) = 0");
const QString kNullPhotosOfFirstPage = QStringLiteral(
    "SELECT COUNT(*) FROM (SELECT FIRST 100 BEM_IMAGEM FROM PAT_BEM ORDER BY BEM_CODIGO) T "
    "WHERE T.BEM_IMAGEM IS NULL OR OCTET_LENGTH(T.BEM_IMAGEM) = 0");

}  // namespace

class ServerStop : public FaultWindow {};

TEST_F(ServerStop, AnImportEndsWithTheErrorShownAndTheNextRunAfterARestartWorks) {
    if (!QFile::exists(serverRoot() + QStringLiteral("/server.pid")))
        GTEST_SKIP() << "the server on 127.0.0.1:3052 was not started by fb-server-start.sh";
    ServerBack serverBack;
    constexpr int kAssets = 250;
    const Register r = makeRegister(kAssets, true);
    // Rows of the target's own, that the purge removes.
    runIsql(
        "INSERT INTO PAT_TIPOBEM (TB_CODIGO, TB_DESCRICAO) VALUES (900, 'Antigo');\n"
        "commit;\n",
        r.target);
    const QStringList before = databaseContents(r.target);
    chooseForImport(r);
    ASSERT_TRUE(window->data().Con_Novo.Connected());
    ASSERT_TRUE(window->data().Con_Velho.Connected());

    // The second page of assets starts after the first 100 have been written back.
    int assetPages = 0;
    bool stopped = false;
    window->seams().pause = [&](int) {
        if (ui().LblStatus->text() == kAssetStep && ++assetPages == 2) {
            stopped = runScript(QStringLiteral("fb-server-stop.sh"));
        }
    };
    clickRun();
    ASSERT_TRUE(stopped) << "the server could not be stopped";

    const QStringList errors = takeErrorDialogs();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("connection"), Qt::CaseInsensitive) ||
                errors[0].contains(QStringLiteral("network"), Qt::CaseInsensitive))
        << errors[0].toStdString();
    EXPECT_FALSE(completed());
    expectWindowGivenBack();

    ASSERT_TRUE(serverBack.ensure()) << "the server did not start again";
    // What was written before the stop stays: the purge, the earlier tables, the first page of
    // assets, each with its photo.
    EXPECT_EQ(count(r.target, QStringLiteral("PAT_RESPONSAVEL")),
              count(r.source, QStringLiteral("PAT_RESPONSAVEL")));
    EXPECT_EQ(count(r.target, QStringLiteral("PAT_BEM")), 100);
    EXPECT_EQ(number(r.target, kNullPhotos), number(r.source, kNullPhotosOfFirstPage));
    EXPECT_EQ(count(r.source, QStringLiteral("PAT_BEM")), kAssets);

    // The copy made before the purge: one finished file, named again in the log view's last
    // lines with the command that restores it, which gives back the target as it was.
    const QStringList files = QDir(databaseCopiesFolder()).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(files.size(), 1) << files.join(u',').toStdString();
    const QStringList log = ui().MemoLOG->toPlainText().split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GE(log.size(), 4);
    const QString restoreLine = log.last();
    EXPECT_TRUE(log[log.size() - 2].contains(databaseCopiesFolder() + files[0]))
        << log[log.size() - 2].toStdString();
    EXPECT_EQ(log.count(restoreLine), 2) << ui().MemoLOG->toPlainText().toStdString();
    const QStringList words = restoreLine.split(u'"');
    ASSERT_EQ(words.size(), 5) << restoreLine.toStdString();
    const QString restored = words[3].mid(words[3].indexOf(u':') + 1);
    restoreBackup(words[1], restored);
    EXPECT_EQ(databaseContents(restored), before);

    // The window's connections died with the server; the next run connects again and works.
    messages.clear();
    window->seams().pause = [](int) {};
    clickRun();
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_TRUE(completed()) << messages.join(u'|').toStdString();
    expectWindowGivenBack();
    EXPECT_EQ(count(r.target, QStringLiteral("PAT_BEM")), kAssets);
    EXPECT_EQ(number(r.target, kNullPhotos), number(r.source, kNullPhotos));
    EXPECT_EQ(count(r.target, QStringLiteral("PAT_BAIXA")),
              count(r.source, QStringLiteral("PAT_BAIXA")));
}

// The same stop, then the way back: the question comes after the error, the operator starts
// the server again and answers "Sim"; the target is back as it was before the run, table by
// table, the half-done target is kept beside the first copy and restores too, and the target
// field shows its connection again.
TEST_F(ServerStop, SimAfterTheServerCameBackPutsTheTargetBackAsItWas) {
    if (!QFile::exists(serverRoot() + QStringLiteral("/server.pid")))
        GTEST_SKIP() << "the server on 127.0.0.1:3052 was not started by fb-server-start.sh";
    ServerBack serverBack;
    const Register r = makeRegister(250, true);
    runIsql(
        "INSERT INTO PAT_TIPOBEM (TB_CODIGO, TB_DESCRICAO) VALUES (900, 'Antigo');\n"
        "commit;\n",
        r.target);
    const QStringList before = databaseContents(r.target);
    chooseForImport(r);

    int assetPages = 0;
    bool stopped = false;
    window->seams().pause = [&](int) {
        if (ui().LblStatus->text() == kAssetStep && ++assetPages == 2) {
            stopped = runScript(QStringLiteral("fb-server-stop.sh"));
        }
    };
    QStringList errorsAtQuestion;
    QStringList halfDone;
    window->seams().ask = [&](const QString& question) {
        asked << question;
        errorsAtQuestion = takeErrorDialogs();
        if (!serverBack.ensure()) return false;
        halfDone = databaseContents(r.target);
        return true;
    };
    clickRun();
    ASSERT_TRUE(stopped) << "the server could not be stopped";
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(QStringLiteral("Voltar o banco a ser atualizado")));
    // The error was on screen before the question.
    ASSERT_EQ(errorsAtQuestion.size(), 1);
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_FALSE(completed());
    expectWindowGivenBack();

    EXPECT_EQ(databaseContents(r.target), before);
    EXPECT_NE(halfDone, before);
    const QStringList files =
        QDir(databaseCopiesFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    ASSERT_EQ(files.size(), 2) << files.join(u',').toStdString();
    const QString log = ui().MemoLOG->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("restaurado como estava antes da importação")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Conferido: as "))) << log.toStdString();
    // The later of the two, named after its moment, is the half-done target; it restores too.
    const QString restored = folder.path(QStringLiteral("meio.fdb"));
    const QString second = files[1];
    EXPECT_TRUE(
        log.contains(QStringLiteral("antes da restauração: ") + databaseCopiesFolder() + second))
        << log.toStdString();
    restoreBackup(databaseCopiesFolder() + second, restored);
    EXPECT_EQ(databaseContents(restored), halfDone);
    EXPECT_TRUE(window->data().Con_Velho.Connected());
    EXPECT_NE(ui().Edit2->palette().color(QPalette::Base), QColor(255, 0, 0));
}

}  // namespace patrimonio::test
