// The way back after an import that stopped or failed half-way through the target: asked after
// the run's own last lines, "Sim" puts the target back, table by table, as it was before the
// run, keeping the half-done target beside the first copy; "Não" changes nothing; another
// program attached, or a copy cut short on disk since, leave the target as it was, with the
// reason in the log view.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "QStringPrinter.h"
#include "RegisterPair.h"
#include "core/AppPaths.h"
#include "db/Connection.h"
#include "runs/RestoreOffer.h"
#include "runs/RunSession.h"

namespace patrimonio::test {
namespace {

QStringList copies() {
    return QDir(databaseCopiesFolder())
        .entryList(QDir::Files | QDir::Hidden, QDir::Time | QDir::Reversed);
}

class RestoreOffer : public ::testing::Test {
protected:
    void SetUp() override {
        pair.generate({}, true, true);
        ASSERT_EQ(pair.run.run(), ImportEnd::Completed);
        runIsql(
            "INSERT INTO PAT_TIPOBEM (TB_CODIGO, TB_DESCRICAO) VALUES (900, 'Antigo');\n"
            "INSERT INTO PAT_TRANSFERENCIA (TRA_CODIGO, BEM_CODIGO) VALUES (77, 1);\n"
            "commit;\n",
            pair.targetPath);
        pair.data.Con_Novo.Close();
        pair.data.Con_Velho.Close();
        QDir(databaseCopiesFolder()).removeRecursively();
        before = databaseContents(pair.targetPath);
    }

    // A whole import run as the window starts it, stopped where `stopAt` shows; the question
    // is answered by `answer` after noting what the target holds then.
    RunOutcome runStopped(const QString& stopAt, const std::function<bool()>& answer) {
        host.stopAt = stopAt;
        host.answer = [&, answer](const QString&) {
            atQuestion = databaseContents(pair.targetPath);
            logAtQuestion = host.eventsWith(QStringLiteral("log:"));
            return answer();
        };
        RunOutcome outcome;
        session.run(false, pair.sourcePath, pair.targetPath, host, 1, outcome);
        EXPECT_EQ(outcome.importEnd, ImportEnd::Stopped);
        return outcome;
    }
    QStringList logSinceQuestion() const {
        return host.eventsWith(QStringLiteral("log:")).mid(logAtQuestion.size());
    }

    RegisterPair pair;
    RunSession session;
    StopAtStatusHost host;
    QStringList before;
    QStringList atQuestion;
    QStringList logAtQuestion;
};

}  // namespace

TEST_F(RestoreOffer, SimAfterAStopMidPurgeGivesBackTheTargetAndKeepsTheHalfDoneOne) {
    const RunOutcome outcome = runStopped(QStringLiteral("Excluindo BEM."), [] { return true; });

    // Asked once, after the lines of the stopped run.
    const QStringList asked = host.eventsWith(QStringLiteral("ask:"));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(QStringLiteral("Voltar o banco a ser atualizado")));
    ASSERT_FALSE(logAtQuestion.isEmpty());
    EXPECT_TRUE(logAtQuestion[logAtQuestion.size() - 2].startsWith(
        QStringLiteral("Execução interrompida pelo operador durante a exclusão")));
    EXPECT_NE(atQuestion, before);

    EXPECT_EQ(databaseContents(pair.targetPath), before);
    EXPECT_EQ(outcome.targetRestored, std::optional<bool>(true));
    Connection& con = session.data().Con_Velho;
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(con.databaseString(), kServerPrefix + pair.targetPath);

    const QStringList files = copies();
    ASSERT_EQ(files.size(), 2) << files.join(u',').toStdString();
    const QStringList log = logSinceQuestion();
    const QString all = log.join(u'\n');
    EXPECT_TRUE(all.contains(QStringLiteral("salva antes da restauração: ") +
                             QDir::toNativeSeparators(databaseCopiesFolder() + files[1])))
        << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("restaurado como estava antes da importação")))
        << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("Conferido: as "))) << all.toStdString();
    // The half-done target restores too.
    const QString restored = pair.folder.path(QStringLiteral("meio.fdb"));
    restoreBackup(databaseCopiesFolder() + files[1], restored);
    EXPECT_EQ(databaseContents(restored), atQuestion);
}

TEST_F(RestoreOffer, NaoChangesNothingAndAStopBeforeThePurgeAsksNothing) {
    RunOutcome outcome = runStopped(QStringLiteral("Excluindo BEM."), [] { return false; });
    EXPECT_EQ(host.eventsWith(QStringLiteral("ask:")).size(), 1);
    EXPECT_EQ(databaseContents(pair.targetPath), atQuestion);
    EXPECT_EQ(copies().size(), 1);
    EXPECT_TRUE(logSinceQuestion().isEmpty()) << logSinceQuestion().join(u'\n').toStdString();
    EXPECT_FALSE(outcome.targetRestored.has_value());

    // Stopped before the first DELETE: nothing to undo, nothing asked.
    host.events.clear();
    const QStringList now = databaseContents(pair.targetPath);
    outcome = runStopped(QStringLiteral("Excluindo baixas."), [] { return true; });
    EXPECT_TRUE(host.eventsWith(QStringLiteral("ask:")).isEmpty());
    EXPECT_EQ(databaseContents(pair.targetPath), now);
}

// What keeps "Sim" from restoring: the target stays as the stopped run left it, the reason is
// in the log view, with where the copy is and the command to try by hand.
TEST_F(RestoreOffer, AnotherAttachmentOrACopyCutShortLeaveTheTargetAsItWas) {
    const struct {
        const char* label;
        bool attach;
        const char* reason;
    } cases[] = {{"another program attached", true, "outro programa está conectado"},
                 {"the copy cut short on disk", false, "danificada"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        host.events.clear();
        Connection other(QStringLiteral("outro"));
        const RunOutcome outcome = runStopped(QStringLiteral("Excluindo BEM."), [&] {
            if (c.attach) {
                other.Params = Connection::editParams(kServerPrefix + pair.targetPath);
                other.Open();
            } else {
                const QStringList files = copies();
                QFile copy(databaseCopiesFolder() + files.last());
                copy.resize(copy.size() / 3);
            }
            return true;
        });
        const QString all = logSinceQuestion().join(u'\n');
        EXPECT_TRUE(all.contains(
            QStringLiteral("O banco a ser atualizado não foi restaurado e continua como estava: ")))
            << all.toStdString();
        EXPECT_TRUE(all.contains(QString::fromUtf8(c.reason))) << all.toStdString();
        EXPECT_TRUE(all.contains(QStringLiteral("gbak -c "))) << all.toStdString();
        other.Close();
        EXPECT_EQ(databaseContents(pair.targetPath), atQuestion);
        EXPECT_EQ(outcome.targetRestored, std::optional<bool>(true));
        // Back to the target as the first run left it, for the next case.
        runIsql("DELETE FROM PAT_BAIXA;\ncommit;\n", pair.targetPath);
        QDir(databaseCopiesFolder()).removeRecursively();
    }
}

}  // namespace patrimonio::test
