// The copy of a whole database through the server's own backup: restored with Firebird's own
// tool it gives back every row byte for byte; it never replaces another copy; and when it
// cannot be made whole nothing is left behind and the reason is said.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <optional>

#include "FullFolder.h"
#include "QStringPrinter.h"
#include "TestDatabase.h"
#include "core/Errors.h"
#include "db/DatabaseBackup.h"

namespace patrimonio::test {

namespace {

const QString kUser = QStringLiteral("SYSDBA");

// A database with text, numbers, dates, NULLs and BLOBs large enough to cross many answers of
// the server (each carries at most 64 KB).
QString makeDatabase(const TempFolder& folder) {
    const QString path = createDatabase(
        folder.path(QStringLiteral("destino.fdb")),
        "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY, BEM_DESCRICAO "
        "VARCHAR(60), BEM_VALOR NUMERIC(15,2), BEM_DATA DATE, BEM_IMAGEM BLOB SUB_TYPE 0);\n"
        "CREATE TABLE PAT_RESPONSAVEL (RES_CODIGO INTEGER NOT NULL PRIMARY KEY, RES_NOME "
        "VARCHAR(60));\n");
    QByteArray script;
    for (int i = 1; i <= 40; ++i) {
        script += QStringLiteral(
                      "INSERT INTO PAT_BEM VALUES (%1, 'Mesa %1', %1.25, "
                      "DATE '2026-01-01' + %1, NULL);\n")
                      .arg(i)
                      .toLatin1();
        script += QStringLiteral("INSERT INTO PAT_RESPONSAVEL VALUES (%1, 'Responsável %1');\n")
                      .arg(i)
                      .toLatin1();
    }
    // Photos of up to 96 KB: together many answers of the server.
    script +=
        "EXECUTE BLOCK AS DECLARE i INTEGER = 1; DECLARE k INTEGER; "
        "DECLARE b BLOB SUB_TYPE 0; BEGIN WHILE (i <= 12) DO BEGIN b = ''; k = 0; "
        "WHILE (k < i) DO BEGIN b = b || LPAD('', 8000, UUID_TO_CHAR(GEN_UUID())); "
        "k = k + 1; END UPDATE PAT_BEM SET BEM_IMAGEM = :b WHERE BEM_CODIGO = :i; "
        "i = i + 1; END END;\n"
        "commit;\n";
    runIsql("SET TERM ^ ;\n" + script.replace(";\n", "^\n") + "SET TERM ; ^\n", path);
    return path;
}

}  // namespace

// Both ways a copy reaches its file: written by the server on this machine, streamed to us.
class DatabaseBackupRoutes : public ::testing::TestWithParam<BackupRoute> {};

TEST_P(DatabaseBackupRoutes, TheCopyRestoredHoldsEveryRowAndNeverReplacesAnother) {
    const BackupRoute route = GetParam();
    TempFolder folder;
    const QString path = makeDatabase(folder);
    const QStringList before = databaseContents(path);
    ASSERT_GT(before.size(), 80);
    QDir(folder.path()).mkdir(QStringLiteral("Bancos_Antes"));
    const QString file =
        folder.path(QStringLiteral("Bancos_Antes/destino_2026-12-10_18-30-05.fbk"));

    qint64 lastProgress = 0;
    const BackupFile first = backupDatabase(
        kServerPrefix + path, kUser, kPassword, file, [&](qint64 bytes) { lastProgress = bytes; },
        route);
    EXPECT_EQ(first.path, file);
    EXPECT_EQ(first.bytes, QFileInfo(file).size());
    EXPECT_EQ(lastProgress, first.bytes);
    EXPECT_GT(first.bytes, 600000);  // the photos are in it

    // The same name again: the new copy takes the next name, the first stays as it was.
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray firstBytes = f.readAll();
    f.close();
    const BackupFile second =
        backupDatabase(kServerPrefix + path, kUser, kPassword, file, {}, route);
    EXPECT_EQ(second.path,
              folder.path(QStringLiteral("Bancos_Antes/destino_2026-12-10_18-30-05 (2).fbk")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), firstBytes);
    EXPECT_EQ(QDir(folder.path(QStringLiteral("Bancos_Antes"))).entryList(QDir::Files).size(), 2);

    // Restored with Firebird's own tool, by the command the log gives.
    const QString restored = folder.path(QStringLiteral("restaurado.fdb"));
    restoreBackup(first.path, restored);
    EXPECT_EQ(databaseContents(restored), before);
    EXPECT_TRUE(restoreCommand(first, kServerPrefix + path, kUser, kPassword)
                    .startsWith(QStringLiteral("gbak -c -user SYSDBA -password ")));
    // Nothing but the two copies in the folder: no temporary file of either route is left.
    EXPECT_EQ(QDir(folder.path(QStringLiteral("Bancos_Antes")))
                  .entryList(QDir::Files | QDir::Hidden | QDir::System)
                  .size(),
              2);
}

INSTANTIATE_TEST_SUITE_P(Both, DatabaseBackupRoutes,
                         ::testing::Values(BackupRoute::Fastest, BackupRoute::Streamed),
                         [](const ::testing::TestParamInfo<BackupRoute>& route) {
                             return route.param == BackupRoute::Fastest
                                        ? std::string("WrittenByTheServer")
                                        : std::string("Streamed");
                         });

struct FailureCase {
    const char* label;
    enum class Kind { FullDisk, FolderIsAFile, NoSuchDatabase, WrongPassword } kind;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.label;
}

class DatabaseBackupFails : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DatabaseBackupFails, NothingIsLeftAndTheReasonIsSaid) {
    const FailureCase& c = GetParam();
    TempFolder folder;
    const QString path = makeDatabase(folder);
    QString copies = folder.path(QStringLiteral("Bancos_Antes"));
    QString database = kServerPrefix + path;
    QString password = kPassword;
    std::optional<FullFolder> full;
    switch (c.kind) {
        case FailureCase::Kind::FullDisk:
            full.emplace(copies);
            if (!full->mounted()) GTEST_SKIP() << full->whyNot().toStdString();
            break;
        case FailureCase::Kind::FolderIsAFile: {
            QFile blocker(copies);
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
            break;
        }
        case FailureCase::Kind::NoSuchDatabase:
            QDir().mkpath(copies);
            database = kServerPrefix + folder.path(QStringLiteral("nao-existe.fdb"));
            break;
        case FailureCase::Kind::WrongPassword:
            QDir().mkpath(copies);
            password = QStringLiteral("errada");
            break;
    }
    const QString file = copies + QStringLiteral("/destino.fbk");
    try {
        backupDatabase(database, kUser, password, file);
        FAIL() << "a copy that cannot be made was reported made";
    } catch (const AppError& e) {
        EXPECT_FALSE(e.message().isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(file));
    if (full) {
        EXPECT_TRUE(full->entries().isEmpty()) << full->entries().join(u',').toStdString();
    } else if (QFileInfo(copies).isDir()) {
        EXPECT_TRUE(QDir(copies).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DatabaseBackupFails,
    ::testing::Values(FailureCase{"full_disk", FailureCase::Kind::FullDisk},
                      FailureCase{"folder_is_a_file", FailureCase::Kind::FolderIsAFile},
                      FailureCase{"no_such_database", FailureCase::Kind::NoSuchDatabase},
                      FailureCase{"wrong_password", FailureCase::Kind::WrongPassword}),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace patrimonio::test
