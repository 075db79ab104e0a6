// One database reached through two connections, however its path is spelled, is known for one;
// two databases are two.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <filesystem>
#include <optional>

#include "QStringPrinter.h"
#include "TestDatabase.h"
#include "db/Connection.h"
#include "db/DatabaseIdentity.h"

namespace patrimonio::test {

namespace {

// The private server's alias file, when this test can find it (the server started by
// scripts/fb-server-start.sh).
QString aliasFile() {
    const QString root = qEnvironmentVariable("FB_ROOT", QStringLiteral("/tmp/importador-fb"));
    const QString file = root + QStringLiteral("/databases.conf");
    return QFileInfo::exists(file) ? file : QString();
}

// An alias for `path` in the server's alias file for as long as it lives.
class Alias {
public:
    explicit Alias(const QString& path)
        : name_(QStringLiteral("importador_") +
                QUuid::createUuid().toString(QUuid::Id128).left(12)) {
        file_ = aliasFile();
        if (file_.isEmpty()) return;
        QFile f(file_);
        if (!f.open(QIODevice::ReadOnly)) return;
        original_ = f.readAll();
        f.close();
        QFile w(file_);
        if (!w.open(QIODevice::WriteOnly)) return;
        w.write(original_ + '\n' + name_.toUtf8() + " = " + path.toUtf8() + '\n');
        ok_ = true;
    }
    ~Alias() {
        if (!ok_) return;
        QFile w(file_);
        if (w.open(QIODevice::WriteOnly)) w.write(original_);
    }
    bool ok() const { return ok_; }
    const QString& name() const { return name_; }

private:
    QString name_;
    QString file_;
    QByteArray original_;
    bool ok_ = false;
};

}  // namespace

struct Spelling {
    const char* label;
    // How the second connection names the database folder/banco.fdb.
    enum class Kind { SamePath, DotSlash, DotDot, DoubleSlash, SymbolicLink, HardLink, Alias } kind;
};

void PrintTo(const Spelling& s, std::ostream* os) {
    *os << s.label;
}

class SameDatabase : public ::testing::TestWithParam<Spelling> {};

TEST_P(SameDatabase, AnySpellingOfOneDatabaseIsKnownForIt) {
    const Spelling& s = GetParam();
    TempFolder folder;
    const QString path = createDatabase(folder.path(QStringLiteral("banco.fdb")));
    QDir(folder.path()).mkdir(QStringLiteral("sub"));
    std::optional<Alias> alias;
    QString other;
    switch (s.kind) {
        case Spelling::Kind::SamePath:
            other = path;
            break;
        case Spelling::Kind::DotSlash:
            other = folder.path() + QStringLiteral("/./banco.fdb");
            break;
        case Spelling::Kind::DotDot:
            other = folder.path() + QStringLiteral("/sub/../banco.fdb");
            break;
        case Spelling::Kind::DoubleSlash:
            other = folder.path() + QStringLiteral("//banco.fdb");
            break;
        case Spelling::Kind::SymbolicLink:
            other = folder.path(QStringLiteral("atalho.fdb"));
            ASSERT_TRUE(QFile::link(path, other));
            break;
        case Spelling::Kind::HardLink: {
            other = folder.path(QStringLiteral("outro-nome.fdb"));
            std::error_code error;
            std::filesystem::create_hard_link(path.toStdString(), other.toStdString(), error);
            ASSERT_FALSE(error) << error.message();
            break;
        }
        case Spelling::Kind::Alias:
            alias.emplace(path);
            if (!alias->ok()) GTEST_SKIP() << "the server's alias file cannot be written here";
            other = alias->name();
            break;
    }
    Connection source(QStringLiteral("Con_Novo"));
    Connection target(QStringLiteral("Con_Velho"));
    source.Params = Connection::editParams(kServerPrefix + path);
    target.Params = Connection::editParams(kServerPrefix + other);
    source.Open();
    target.Open();
    EXPECT_TRUE(sameDatabase(source, target)) << other.toStdString();
    EXPECT_TRUE(sameDatabase(target, source)) << other.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Spellings, SameDatabase,
                         ::testing::Values(Spelling{"same_path", Spelling::Kind::SamePath},
                                           Spelling{"dot_slash", Spelling::Kind::DotSlash},
                                           Spelling{"dot_dot", Spelling::Kind::DotDot},
                                           Spelling{"double_slash", Spelling::Kind::DoubleSlash},
                                           Spelling{"symbolic_link", Spelling::Kind::SymbolicLink},
                                           Spelling{"hard_link", Spelling::Kind::HardLink},
                                           Spelling{"server_alias", Spelling::Kind::Alias}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(SameDatabaseNot, TwoDatabasesAreTwoEvenAsCopiesOfEachOther) {
    TempFolder folder;
    const QString first = createDatabase(folder.path(QStringLiteral("banco.fdb")));
    QDir(folder.path()).mkdir(QStringLiteral("copia"));
    // The same name in another folder, and a byte-for-byte copy of the file.
    const QString second = createDatabase(folder.path(QStringLiteral("copia/banco.fdb")));
    const QString copied = folder.path(QStringLiteral("copia-exata.fdb"));
    ASSERT_TRUE(QFile::copy(first, copied));
    for (const QString& other : {second, copied}) {
        Connection a(QStringLiteral("Con_Novo"));
        Connection b(QStringLiteral("Con_Velho"));
        a.Params = Connection::editParams(kServerPrefix + first);
        b.Params = Connection::editParams(kServerPrefix + other);
        a.Open();
        b.Open();
        EXPECT_FALSE(sameDatabase(a, b)) << other.toStdString();
        EXPECT_EQ(serverDatabaseName(a), first);
    }
}

}  // namespace patrimonio::test
