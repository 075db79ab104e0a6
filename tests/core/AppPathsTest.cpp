// Where the program's files go: beside the executable while this user may write there, else
// the operator's own folder, and a plain reason when neither can take them. Each case makes
// the executable's folder and the home folder it needs in a temporary folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "HomeFor.h"
#include "core/AppPaths.h"

namespace patrimonio {
namespace {

using test::HomeFor;

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

enum class Goes { BesideExecutable, PersonalFolder, Nowhere };

struct Case {
    const char* name;
    // Makes the executable's folder (and spoils the home when the case needs it) under `root`;
    // returns the executable's folder, or an empty text when the case cannot be made here.
    std::function<QString(const QString& root, const QString& home)> make;
    Goes goes;
};

bool root() {
    return ::geteuid() == 0;
}

const Case kCases[] = {
    {"an executable folder of this user's own",
     [](const QString& r, const QString&) {
         QDir().mkpath(r + "/programa");
         return r + "/programa";
     },
     Goes::BesideExecutable},
    {"an executable folder that cannot exist (a file is in the way)",
     [](const QString& r, const QString&) {
         touch(r + "/arquivo");
         return r + "/arquivo/programa";
     },
     Goes::PersonalFolder},
    {"an executable folder of another user's, open to everybody",
     [](const QString& r, const QString&) -> QString {
         if (!root()) return {};  // only root can give a folder away
         const QString dir = r + "/de-outro";
         QDir().mkpath(dir);
         const QByteArray name = QFile::encodeName(dir);
         if (::chown(name.constData(), 65534, 65534) != 0 || ::chmod(name.constData(), 0777) != 0)
             return {};
         return dir;
     },
     Goes::PersonalFolder},
    {"an executable folder this user may only read (as an installed program's)",
     [](const QString& r, const QString&) -> QString {
         if (root()) return {};  // root writes anywhere
         const QString dir = r + "/instalado";
         QDir().mkpath(dir);
         ::chmod(QFile::encodeName(dir).constData(), 0555);
         return dir;
     },
     Goes::PersonalFolder},
    {"neither the executable's folder nor the home can take files",
     [](const QString& r, const QString& home) {
         touch(r + "/arquivo");
         touch(home + "/Importador patrimônio");  // a file where the folder would go
         return r + "/arquivo/programa";
     },
     Goes::Nowhere},
};

class FilesFolderTest : public ::testing::TestWithParam<Case> {};

TEST_P(FilesFolderTest, GoesWhereThisUserMayWrite) {
    const Case& c = GetParam();
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString home = tmp.filePath("casa");
    QDir().mkpath(home);
    const QString exe = c.make(tmp.path(), home);
    if (exe.isEmpty()) GTEST_SKIP() << "this case cannot be made as this user";
    const HomeFor homeFor(home);
    setExecutableDirForTesting(exe);

    const FilesFolder chosen = chooseFilesFolder();
    switch (c.goes) {
        case Goes::BesideExecutable:
            EXPECT_EQ(chosen.path, exe + u'/');
            EXPECT_TRUE(chosen.besideExecutable);
            EXPECT_TRUE(chosen.problem.isEmpty());
            break;
        case Goes::PersonalFolder:
            EXPECT_EQ(chosen.path, home + QStringLiteral("/Importador patrimônio/"));
            EXPECT_FALSE(chosen.besideExecutable);
            EXPECT_TRUE(chosen.problem.isEmpty());
            EXPECT_TRUE(QFileInfo(chosen.path).isDir());
            EXPECT_TRUE(filesFolderLine(chosen).contains(
                QStringLiteral("A pasta do programa não pode ser gravada por este usuário")));
            break;
        case Goes::Nowhere:
            EXPECT_FALSE(chosen.besideExecutable);
            EXPECT_TRUE(chosen.problem.contains(exe)) << chosen.problem.toStdString();
            EXPECT_TRUE(chosen.problem.contains(home)) << chosen.problem.toStdString();
            break;
    }
    // Every folder of the run lies in the chosen one, and the probe left nothing behind.
    EXPECT_EQ(beforeFolder(), chosen.path + QStringLiteral("Imagens_Antes/"));
    EXPECT_EQ(afterFolder(), chosen.path + QStringLiteral("Imagens_Depois/"));
    EXPECT_EQ(databaseCopiesFolder(), chosen.path + QStringLiteral("Bancos_Antes/"));
    EXPECT_EQ(logFilePath(), chosen.path + QStringLiteral("Log_Imagens_Com_Erro.txt"));
    if (c.goes != Goes::Nowhere) {
        EXPECT_TRUE(QDir(chosen.path)
                        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                        .isEmpty());
    }

    ::chmod(QFile::encodeName(exe).constData(), 0755);  // so that the folder can be removed
    setExecutableDirForTesting({});
}

INSTANTIATE_TEST_SUITE_P(Cases, FilesFolderTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return "Case" + std::to_string(param.index); });

}  // namespace
}  // namespace patrimonio
