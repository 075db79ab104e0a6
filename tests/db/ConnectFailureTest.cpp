// Why a connect failed, for real failures: each case makes its own on the private server or on
// real files (a missing path, a folder, a text, a JPEG, a database another route holds, a
// wrong password, a port nobody listens on...), connects the way the database fields do, and
// reads the reason given.

#include <arpa/inet.h>
#include <firebird/Interface.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <clocale>
#include <functional>
#include <memory>
#include <optional>

#include "DbFixture.h"
#include "JpegFixtures.h"
#include "QStringPrinter.h"
#include "db/ConnectFailure.h"

namespace patrimonio::test {
namespace {

using Kind = ConnectFailure::Kind;

// One connect to make fail: what DATABASE says, the password, and whatever must stay alive
// until the failure has been explained (a connection holding the file, a socket, a locale).
struct Attempt {
    explicit Attempt(QString db, QString pw = kPassword, std::shared_ptr<void> keep = {})
        : database(std::move(db)), password(std::move(pw)), holds(std::move(keep)) {}
    QString database;
    QString password;
    std::shared_ptr<void> holds;
};

using Maker = std::function<std::optional<Attempt>(const TempFolder&)>;

struct Case {
    const char* name;
    Maker make;
    Kind kind;
    const char* reasonStarts;  // the start of the operator's sentence
    const char* serverSays;    // a piece of the server's own message
};

// Something to do when the attempt ends.
std::shared_ptr<void> onEnd(std::function<void()> action) {
    class Action {
    public:
        explicit Action(std::function<void()> f) : run_(std::move(f)) {}
        ~Action() { run_(); }
        Action(const Action&) = delete;
        Action& operator=(const Action&) = delete;

    private:
        std::function<void()> run_;
    };
    return std::make_shared<Action>(std::move(action));
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
    return path;
}

QString database(const TempFolder& folder, const char* name) {
    return createDatabase(folder.path(QString::fromLatin1(name)), "create table T (N integer);");
}

// A connection that stays open on `database` for as long as the attempt lives.
std::shared_ptr<void> holdOpen(const QString& databaseString) {
    auto con = std::make_shared<Connection>(QStringLiteral("Con_Holder"));
    con->Params = Connection::editParams(databaseString);
    con->Open();
    return con;
}

// A TCP port on 127.0.0.1 that is bound but never listened on, so that a connect to it is
// refused at once, as when no server runs there; freed when the attempt ends.
std::optional<Attempt> refusedPort(const QString& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return std::nullopt;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    const std::shared_ptr<void> socket = onEnd([fd] { ::close(fd); });
    return Attempt{QStringLiteral("127.0.0.1/%1:").arg(ntohs(addr.sin_port)) + path, kPassword,
                   socket};
}

// The operator's language for the system's messages, as the window sets it from the
// environment; the engine of a bare path words its I/O errors in it.
std::shared_ptr<void> portugueseMessages() {
    const std::string before = std::setlocale(LC_MESSAGES, nullptr);
    if (!std::setlocale(LC_MESSAGES, "pt_BR.UTF-8")) return nullptr;
    return onEnd([before] { std::setlocale(LC_MESSAGES, before.c_str()); });
}

const Case kCases[] = {
    {"MissingFileThroughServer",
     [](const TempFolder& f) {
         return Attempt{kServerPrefix + f.path(QStringLiteral("missing.fdb"))};
     },
     Kind::FileNotFound, "Arquivo não encontrado.", "No such file or directory"},
    {"MissingFileBarePath",
     [](const TempFolder& f) { return Attempt{f.path(QStringLiteral("missing.fdb"))}; },
     Kind::FileNotFound, "Arquivo não encontrado.", "\"open\" operation"},
    {"PathTypedHalfWay",
     [](const TempFolder& f) {
         database(f, "patrimonio.fdb");
         return Attempt{kServerPrefix + f.path(QStringLiteral("patrim"))};
     },
     Kind::FileNotFound, "Arquivo não encontrado.", "patrim"},
    {"MissingFileBarePathInPortuguese",
     [](const TempFolder& f) -> std::optional<Attempt> {
         std::shared_ptr<void> locale = portugueseMessages();
         if (!locale) return std::nullopt;
         return Attempt{f.path(QStringLiteral("missing.fdb")), kPassword, locale};
     },
     Kind::FileNotFound, "Arquivo não encontrado.", "inexistente"},
    {"FolderThroughServer", [](const TempFolder& f) { return Attempt{kServerPrefix + f.path()}; },
     Kind::IsAFolder, "O caminho é uma pasta", "Is a directory"},
    {"ShortTextFile",
     [](const TempFolder& f) {
         return Attempt{kServerPrefix +
                        writeFile(f.path(QStringLiteral("leia-me.txt")), "Banco de teste.\n")};
     },
     Kind::NotADatabase, "O arquivo não é um banco de dados Firebird", "\"read\" operation"},
    {"TextFileThroughServer",
     [](const TempFolder& f) {
         QByteArray csv;
         for (int i = 0; i < 2000; ++i) csv += "12;Cadeira giratória;Almoxarifado\n";
         return Attempt{kServerPrefix + writeFile(f.path(QStringLiteral("bens.csv")), csv)};
     },
     Kind::NotADatabase, "O arquivo não é um banco de dados Firebird.", "is not a valid database"},
    {"JpegBarePath",
     [](const TempFolder& f) {
         return Attempt{
             writeFile(f.path(QStringLiteral("foto.jpg")), makeJpeg({640, 480, Layout::Ycc420}))};
     },
     Kind::NotADatabase, "O arquivo não é um banco de dados Firebird.", "is not a valid database"},
    {"OlderFirebirdDatabase",
     [](const TempFolder& f) {
         // A real database whose header says on-disk structure 11, as Firebird 2 wrote it.
         QFile file(database(f, "antigo.fdb"));
         if (!file.open(QIODevice::ReadWrite) || !file.seek(18) || file.write("\x0b\x80", 2) != 2)
             throw std::runtime_error("cannot patch the header");
         return Attempt{kServerPrefix + file.fileName()};
     },
     Kind::OtherVersion, "O banco foi criado por outra versão do Firebird",
     "unsupported on-disk structure"},
    {"WrongPassword",
     [](const TempFolder& f) {
         return Attempt{kServerPrefix + database(f, "a.fdb"), QStringLiteral("wrong")};
     },
     Kind::WrongLogin, "Usuário ou senha recusados", "user name and password"},
    {"NoServerOnThePort", [](const TempFolder& f) { return refusedPort(database(f, "a.fdb")); },
     Kind::ServerNotRunning, "O servidor Firebird não responde em 127.0.0.1, porta ",
     "Failed to establish a connection"},
    {"BarePathWhileTheServerHoldsTheFile",
     [](const TempFolder& f) {
         const QString path = database(f, "fotos.fdb");
         return Attempt{path, kPassword, holdOpen(kServerPrefix + path)};
     },
     Kind::InUseThroughServer,
     "O banco está em uso por outro programa, conectado pelo servidor Firebird.",
     "I/O error during \"lock\" operation"},
    {"ServerWhileABarePathHoldsTheFile",
     [](const TempFolder& f) {
         const QString path = database(f, "fotos.fdb");
         return Attempt{kServerPrefix + path, kPassword, holdOpen(path)};
     },
     Kind::InUseDirectly, "O banco está em uso por outro programa, que abriu o arquivo",
     "I/O error during \"lock\" operation"},
    {"DatabaseShutDown",
     [](const TempFolder& f) {
         const QString path = database(f, "a.fdb");
         QProcess gfix;
         gfix.start(QStringLiteral("gfix"),
                    {QStringLiteral("-shut"), QStringLiteral("full"), QStringLiteral("-force"),
                     QStringLiteral("0"), QStringLiteral("-user"), QStringLiteral("SYSDBA"),
                     QStringLiteral("-password"), kPassword, kServerPrefix + path});
         if (!gfix.waitForFinished(60000) || gfix.exitCode() != 0)
             throw std::runtime_error("gfix -shut failed");
         return Attempt{kServerPrefix + path};
     },
     Kind::ShutDown, "O banco está desligado para manutenção", "shutdown"},
    {"AnythingElse",
     // The private server keeps its security database from remote clients.
     [](const TempFolder&) { return Attempt{kServerPrefix + QStringLiteral("security.db")}; },
     Kind::Other, "Não foi possível conectar ao banco.", "no permission for remote access"},
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class ConnectFailureTest : public ::testing::TestWithParam<Case> {};

TEST_P(ConnectFailureTest, SaysWhyWithTheServersMessage) {
    const Case& c = GetParam();
    TempFolder folder;
    const std::optional<Attempt> attempt = c.make(folder);
    if (!attempt) GTEST_SKIP() << "this machine cannot make that failure";

    Connection con(QStringLiteral("Con_Novo"));
    con.Params = Connection::editParams(attempt->database);
    con.Params[3] = QStringLiteral("PASSWORD=") + attempt->password;
    try {
        con.Open();
        FAIL() << "connected to " << attempt->database.toStdString();
    } catch (const DatabaseError& e) {
        const ConnectFailure why = explainConnectFailure(e, attempt->database);
        EXPECT_EQ(why.kind, c.kind) << e.what();
        EXPECT_TRUE(why.reason.startsWith(QString::fromUtf8(c.reasonStarts)))
            << why.reason.toStdString();
        EXPECT_TRUE(why.reason.endsWith(u'.') || why.reason.endsWith(u'?'))
            << why.reason.toStdString();
        EXPECT_TRUE(why.serverMessage.contains(QString::fromUtf8(c.serverSays)))
            << why.serverMessage.toStdString();
        // The server's message is its own: nothing of ours in front of it.
        EXPECT_FALSE(why.serverMessage.startsWith(QStringLiteral("O banco")))
            << why.serverMessage.toStdString();
        EXPECT_EQ(why.text(), why.reason + u'\n' + why.serverMessage);
    }
    EXPECT_FALSE(con.Connected());
}

INSTANTIATE_TEST_SUITE_P(RealFailures, ConnectFailureTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) {
                             return std::string(p.param.name);
                         });

// The address and port in the reason are those of the database string, so an operator who
// typed another server sees which one did not answer.
TEST(ConnectFailure, NamesTheServerThatDidNotAnswer) {
    const DatabaseError refused(
        QStringLiteral("Unable to complete network request to host \"10.0.0.9\".\n"
                       "-Failed to establish a connection."),
        QStringLiteral("08006"), isc_network_error, true);
    EXPECT_EQ(explainConnectFailure(refused, QStringLiteral("10.0.0.9:/dados/p.fdb")).reason,
              QStringLiteral("O servidor Firebird não responde em 10.0.0.9, porta 3050: ele está "
                             "em execução?"));
    EXPECT_EQ(explainConnectFailure(refused, QStringLiteral("127.0.0.1/3052:C:\\p.fdb")).reason,
              QStringLiteral("O servidor Firebird não responde em 127.0.0.1, porta 3052: ele está "
                             "em execução?"));
}

}  // namespace
}  // namespace patrimonio::test
