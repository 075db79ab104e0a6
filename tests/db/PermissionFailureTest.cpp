// Why a connect failed when permissions refuse it, made for real by a user who is not root (root
// opens everything): the engine's lock folder closed to the operator, a database file the
// operator may not read or write with the program's own engine, and one the server's user may
// not read or write. Each attempt runs in a process of its own (connect_attempt): as the user
// "nobody" when the tests run as root, as the test's own user otherwise.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <functional>

#include "QStringPrinter.h"
#include "TestDatabase.h"
#include "db/ConnectFailure.h"
#include "db/Connection.h"

namespace patrimonio::test {
namespace {

using Kind = ConnectFailure::Kind;

void setMode(const QString& path, mode_t mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0) << path.toStdString();
}

struct Outcome {
    bool connected = false;
    Kind kind = Kind::Other;
    QString text;
};

// The attempt as an ordinary user. `lockFolder` is the engine's lock folder for that process.
Outcome attemptAsOrdinaryUser(const TempFolder& folder, const QString& database,
                              const QString& lockFolder) {
    // A copy the other user may run, whatever folder the build lies in.
    const QString program = folder.path(QStringLiteral("connect_attempt"));
    QFile::remove(program);
    EXPECT_TRUE(QFile::copy(QStringLiteral(CONNECT_ATTEMPT), program));
    setMode(program, 0755);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FIREBIRD_LOCK"), lockFolder);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    if (::geteuid() == 0) {
        child.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                     QStringLiteral("--clear-groups"), program, database});
    } else {
        child.start(program, {database});
    }
    EXPECT_TRUE(child.waitForFinished(60000));
    const QStringList lines = QString::fromUtf8(child.readAll()).split(u'\n');
    Outcome out;
    out.connected = child.exitCode() == 0 && lines.value(0) == QStringLiteral("connected");
    out.kind = static_cast<Kind>(lines.value(0).toInt());
    out.text = lines.mid(1).join(u'\n').trimmed();
    return out;
}

// A database file made by the server, in a folder any user may enter, with its lock folder
// open to everybody beside it.
struct Files {
    TempFolder folder;
    QString database;
    QString openLocks;
    Files() {
        setMode(folder.path(), 0777);  // the server may run as another user
        database =
            createDatabase(folder.path(QStringLiteral("p.fdb")), "create table T (N integer);");
        openLocks = folder.path(QStringLiteral("travas"));
        QDir().mkpath(openLocks);
        setMode(openLocks, 01777);
    }
};

struct BareCase {
    const char* name;
    mode_t fileMode;
    bool lockFolderClosed;
    Kind kind;
    const char* reasonStarts;
    const char* serverSays;
};

const BareCase kBareCases[] = {
    {"LockFolderClosedToTheOperator", 0666, true, Kind::LockFolderRefused,
     "Este usuário não pode usar a pasta de travas do Firebird", "Permission denied"},
    {"FileTheOperatorMayNotRead", 0000, false, Kind::NoPermission,
     "Este usuário não tem permissão para abrir o arquivo", "Permission denied"},
    {"FileTheOperatorMayOnlyRead", 0444, false, Kind::ReadOnly,
     "Este usuário pode ler o arquivo, mas não gravar nele", "read-write access"},
};

class ConnectFailureAsOperator : public ::testing::TestWithParam<BareCase> {};

TEST_P(ConnectFailureAsOperator, BarePathSaysWhyAndTheFix) {
    const BareCase& c = GetParam();
    Files files;
    QString locks = files.openLocks;
    if (c.lockFolderClosed) {
        // Closed as Debian's own lock folder is to a user outside the group "firebird".
        locks = files.folder.path(QStringLiteral("travas-fechadas"));
        QDir().mkpath(locks);
        setMode(locks, 0);
    }
    // A copy of this test's own: the one the server made may belong to the server's user.
    const QString mine = files.folder.path(QStringLiteral("copia.fdb"));
    ASSERT_TRUE(QFile::copy(files.database, mine));
    setMode(mine, c.fileMode);
    const Outcome out = attemptAsOrdinaryUser(files.folder, mine, locks);
    ASSERT_FALSE(out.connected);
    EXPECT_EQ(out.kind, c.kind) << out.text.toStdString();
    EXPECT_TRUE(out.text.startsWith(QString::fromUtf8(c.reasonStarts))) << out.text.toStdString();
    EXPECT_TRUE(out.text.contains(QString::fromUtf8(c.serverSays))) << out.text.toStdString();
    if (c.kind == Kind::LockFolderRefused) {
        // The folder it names, and the one command an administrator runs.
        EXPECT_TRUE(out.text.contains(locks)) << out.text.toStdString();
        EXPECT_TRUE(out.text.contains(QStringLiteral("sudo adduser "))) << out.text.toStdString();
        EXPECT_TRUE(out.text.contains(QStringLiteral(" firebird (vale a partir do próximo login)")))
            << out.text.toStdString();
    }
    setMode(locks, 0755);
}

INSTANTIATE_TEST_SUITE_P(Permissions, ConnectFailureAsOperator, ::testing::ValuesIn(kBareCases),
                         [](const ::testing::TestParamInfo<BareCase>& p) {
                             return std::string(p.param.name);
                         });

// A file the server's user may not read, or only read: the operator's own copy of a database,
// reached through a server that runs as another user (Debian's "firebird").
TEST(ConnectFailureAsOperator, ThroughAServerOfAnotherUserSaysTheServerMayNot) {
    Files files;
    const uint serverUser = QFileInfo(files.database).ownerId();
    if (serverUser == ::geteuid())
        GTEST_SKIP() << "the server runs as this user: its permissions are this user's";
    struct Case {
        mode_t mode;
        Kind kind;
        const char* reasonStarts;
    };
    const Case cases[] = {
        {0600, Kind::NoPermission, "O servidor Firebird não tem permissão para abrir o arquivo"},
        {0644, Kind::ReadOnly, "O servidor Firebird pode ler o arquivo, mas não gravar nele"},
    };
    for (const Case& c : cases) {
        const QString mine = files.folder.path(QStringLiteral("copia-%1.fdb").arg(c.mode, 0, 8));
        ASSERT_TRUE(QFile::copy(files.database, mine));
        setMode(mine, c.mode);
        Connection con(QStringLiteral("Con_Velho"));
        con.Params = Connection::editParams(kServerPrefix + mine);
        try {
            con.Open();
            ADD_FAILURE() << "the server opened " << mine.toStdString();
        } catch (const DatabaseError& e) {
            const ConnectFailure why = explainConnectFailure(e, kServerPrefix + mine);
            EXPECT_EQ(why.kind, c.kind) << e.what();
            EXPECT_TRUE(why.reason.startsWith(QString::fromUtf8(c.reasonStarts)))
                << why.reason.toStdString();
        }
    }
}

}  // namespace
}  // namespace patrimonio::test
