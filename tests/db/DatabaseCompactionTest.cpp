// Compacting a database file: a backup restored into a new file beside it, checked, then put in
// the old file's place, with the old file kept whole in the copies folder. Against real files,
// through this process's own engine (a bare path) and through the private server.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

#include "FullFolder.h"
#include "QStringPrinter.h"
#include "TestDatabase.h"
#include "core/Errors.h"
#include "db/Connection.h"
#include "db/DatabaseCompaction.h"

namespace patrimonio::test {

namespace {

const QString kUser = QStringLiteral("SYSDBA");
const QDateTime kWhen(QDate(2026, 12, 10), QTime(18, 30, 5));

// Photos of 200 KB, then replaced by photos of 2 KB: most of the file's pages are free.
QString makeShrunkDatabase(const QString& path) {
    createDatabase(path,
                   "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY, BEM_DESCRICAO "
                   "VARCHAR(60), BEM_IMAGEM BLOB SUB_TYPE 0);\n"
                   "CREATE TABLE PAT_TIPO (TIP_CODIGO INTEGER NOT NULL PRIMARY KEY);\n"
                   "CREATE VIEW V_BEM AS SELECT BEM_CODIGO FROM PAT_BEM;\n"
                   "INSERT INTO PAT_TIPO VALUES (1);\nINSERT INTO PAT_TIPO VALUES (2);\n");
    runIsql(
        "SET TERM ^ ;\n"
        "EXECUTE BLOCK AS DECLARE i INTEGER = 1; DECLARE k INTEGER; DECLARE b BLOB SUB_TYPE 0; "
        "BEGIN WHILE (i <= 30) DO BEGIN b = ''; k = 0; WHILE (k < 6) DO BEGIN "
        "b = b || LPAD('', 32000, UUID_TO_CHAR(GEN_UUID())); k = k + 1; END "
        "INSERT INTO PAT_BEM VALUES (:i, 'Bem ' || :i, :b); i = i + 1; END END^\n"
        "SET TERM ; ^\n"
        "COMMIT;\n"
        "UPDATE PAT_BEM SET BEM_IMAGEM = LPAD('', 2000, UUID_TO_CHAR(GEN_UUID()));\n"
        "COMMIT;\n",
        path);
    return path;
}

QByteArray fileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result();
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

class DatabaseCompaction : public ::testing::TestWithParam<bool> {
protected:
    TempFolder folder;
    QString copies = folder.path(QStringLiteral("Bancos_Antes")) + u'/';
};

}  // namespace

// Through this process's engine (a bare path) and through the server.
TEST_P(DatabaseCompaction, LeavesASmallerFileWithEveryRowAndTheOldOneWhole) {
    const bool throughServer = GetParam();
    const QString data = folder.folder(QStringLiteral("dados"));
    const QString path = makeShrunkDatabase(data + QStringLiteral("/fotos.fdb"));
    const QStringList before = databaseContents(path);
    const qint64 bytesBefore = QFileInfo(path).size();
    // A name already taken in the copies folder is never written over.
    QDir().mkpath(copies);
    const QString taken = copies + QStringLiteral("fotos_2026-12-10_18-30-05.fdb");
    ASSERT_TRUE(QFile(taken).open(QIODevice::WriteOnly));

    // Half-made files of a compaction of this file killed earlier, and files of other names.
    const QStringList leftovers{QStringLiteral("fotos.compactando-0123abcd.fbk"),
                                QStringLiteral("fotos.compactando-89abcdef.fdb")};
    const QStringList others{QStringLiteral("fotos.compactando-nao.fdb"),
                             QStringLiteral("outros.compactando-0123abcd.fdb")};
    for (const QString& name : leftovers + others) {
        QFile f(data + u'/' + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("meio feito");
    }

    const QString database = throughServer ? kServerPrefix + path : path;
    Connection con(QStringLiteral("Con_Novo"));
    con.Params = Connection::editParams(database);
    con.Open();
    const CompactionEstimate estimate = estimateCompaction(con);
    con.Close();

    const Compaction done = compactDatabase(database, kUser, kPassword, copies, kWhen);

    EXPECT_EQ(estimate.fileBytes, bytesBefore);
    EXPECT_EQ(done.bytesBefore, bytesBefore);
    EXPECT_EQ(done.bytesAfter, QFileInfo(path).size());
    EXPECT_LT(done.bytesAfter * 3, bytesBefore);
    // The estimate is close to what the file became (a restore adds a few pages of its own).
    EXPECT_NEAR(static_cast<double>(done.bytesAfter), static_cast<double>(estimate.compactedBytes),
                0.2 * static_cast<double>(done.bytesAfter) + 256 * 1024);
    EXPECT_EQ(QFileInfo(done.database).canonicalFilePath(), QFileInfo(path).canonicalFilePath());
    EXPECT_EQ(databaseContents(path), before);

    EXPECT_EQ(done.keptAt, copies + QStringLiteral("fotos_2026-12-10_18-30-05 (2).fdb"));
    EXPECT_EQ(QFileInfo(done.keptAt).size(), bytesBefore);
    EXPECT_EQ(databaseContents(done.keptAt), before);
    EXPECT_EQ(QFileInfo(taken).size(), 0);
    // Nothing made on the way is left beside the database, nor what the killed one left;
    // files of other names stay.
    EXPECT_EQ(entries(data),
              (QStringList{QStringLiteral("fotos.compactando-nao.fdb"), QStringLiteral("fotos.fdb"),
                           QStringLiteral("outros.compactando-0123abcd.fdb")}));
    QStringList removed;
    for (const QString& f : done.leftoversRemoved) removed << QFileInfo(f).fileName();
    removed.sort();
    EXPECT_EQ(removed, leftovers);
}

INSTANTIATE_TEST_SUITE_P(Engines, DatabaseCompaction, ::testing::Values(false, true),
                         [](const auto& param) {
                             return param.param ? std::string("ThroughTheServer")
                                                : std::string("ByBarePath");
                         });

// What stops a compaction before it changes anything: the file stays where and as it was,
// nothing is left behind, and the reason is said.
struct Refusal {
    const char* label;
    const char* reason;  // a part of the message
    // The database string for the file; with another attachment held on it when asked.
    QString (*database)(const QString& path);
    bool otherAttachment;
};

class CompactionRefused : public ::testing::TestWithParam<Refusal> {};

TEST_P(CompactionRefused, LeavesTheFileAsItWas) {
    const Refusal& c = GetParam();
    TempFolder folder;
    const QString copies = folder.path(QStringLiteral("Bancos_Antes")) + u'/';
    const QString data = folder.folder(QStringLiteral("dados"));
    const QString path = makeShrunkDatabase(data + QStringLiteral("/fotos.fdb"));
    const QStringList before = databaseContents(path);
    const qint64 bytesBefore = QFileInfo(path).size();

    QString reason;
    {
        Connection other(QStringLiteral("outro"));
        if (c.otherAttachment) {
            other.Params = Connection::editParams(c.database(path));
            other.Open();
        }
        try {
            compactDatabase(c.database(path), kUser, kPassword, copies, kWhen);
        } catch (const AppError& e) {
            reason = e.message();
        }
    }
    EXPECT_TRUE(reason.contains(QString::fromUtf8(c.reason))) << reason.toStdString();
    EXPECT_EQ(QFileInfo(path).size(), bytesBefore);
    EXPECT_EQ(databaseContents(path), before);
    EXPECT_EQ(entries(data), QStringList{QStringLiteral("fotos.fdb")});
    EXPECT_TRUE(entries(copies).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompactionRefused,
    ::testing::Values(Refusal{"AnotherAttachment", "outro programa está conectado",
                              [](const QString& path) { return path; }, true},
                      Refusal{"AnotherAttachmentThroughTheServer", "outro programa está conectado",
                              [](const QString& path) { return kServerPrefix + path; }, true},
                      Refusal{"ARemoteServer", "servidor 192.0.2.7/3050",
                              [](const QString& path) {
                                  return QStringLiteral("192.0.2.7/3050:") + path;
                              },
                              false}),
    [](const auto& param) { return std::string(param.param.label); });

// A disk with no room for the new file: the database is left as it was, and no part of a
// backup or a new file stays behind.
TEST(CompactionOnAFullDisk, LeavesTheFileAsItWasWithTheReason) {
    TempFolder folder;
    const QString path = makeShrunkDatabase(folder.path(QStringLiteral("fotos.fdb")));
    const QStringList before = databaseContents(path);
    QFile original(path);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    const QString disk = folder.path(QStringLiteral("disco"));
    FullFolder full(disk, {{QStringLiteral("fotos.fdb"), bytes}},
                    static_cast<int>(bytes.size() / (1 << 20)) + 2);
    if (!full.mounted()) GTEST_SKIP() << full.whyNot().toStdString();
    const QString onDisk = disk + QStringLiteral("/fotos.fdb");
    const QByteArray hashBefore = fileHash(onDisk);

    QString reason;
    try {
        compactDatabase(onDisk, kUser, kPassword, folder.path(QStringLiteral("Bancos_Antes/")),
                        kWhen);
    } catch (const AppError& e) {
        reason = e.message();
    }
    EXPECT_TRUE(reason.contains(QStringLiteral("falhou"))) << reason.toStdString();
    EXPECT_EQ(full.entries(), QStringList{QStringLiteral("fotos.fdb")});
    EXPECT_EQ(QFileInfo(onDisk).size(), bytes.size());
    // Attaching may update the header page in place; every row is as it was.
    EXPECT_EQ(fileHash(onDisk).isEmpty(), false);
    (void)hashBefore;
    EXPECT_EQ(databaseContents(onDisk), before);
}

}  // namespace patrimonio::test

namespace patrimonio::test {
namespace {

// An operator who is not root compacts, with the program's own engine, a database that a server
// running as another user (Debian's "firebird") made and serves; the old file goes to a copies
// folder on another file system when IMPORTADOR_OTHER_FS names one (CI mounts one), so that it
// is copied and compared byte for byte. Afterwards the server still opens the compacted file.
TEST(DatabaseCompactionAsOperator, TheServersUserStillOpensTheCompactedFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens every file: nothing to show";
    TempFolder folder;
    const QString data = folder.folder(QStringLiteral("dados"));
    // Without the set-group-id bit a new file takes the operator's own group, not the folder's.
    ::chmod(QFile::encodeName(data).constData(), 0770);
    const QString path = makeShrunkDatabase(data + QStringLiteral("/fotos.fdb"));
    if (QFileInfo(path).ownerId() == ::geteuid())
        GTEST_SKIP() << "the server runs as this user: its permissions are this user's";
    const QStringList before = databaseContents(path);
    const QFileInfo oldInfo(path);
    const struct {
        qint64 size;
        uint group;
        QFile::Permissions permissions;
    } old{oldInfo.size(), oldInfo.groupId(), oldInfo.permissions()};

    QString copies = folder.path(QStringLiteral("Bancos_Antes")) + u'/';
    const QString otherFs = qEnvironmentVariable("IMPORTADOR_OTHER_FS");
    std::unique_ptr<QTemporaryDir> elsewhere;
    if (!otherFs.isEmpty()) {
        elsewhere = std::make_unique<QTemporaryDir>(otherFs + QStringLiteral("/copias-XXXXXX"));
        ASSERT_TRUE(elsewhere->isValid()) << otherFs.toStdString();
        copies = elsewhere->path() + QStringLiteral("/Bancos_Antes/");
    }

    const Compaction done = compactDatabase(path, kUser, kPassword, copies, kWhen);

    EXPECT_LT(done.bytesAfter, done.bytesBefore);
    // The old file whole, where the operator can find it (checked byte for byte against the
    // file by the compaction itself when it had to copy it), and still a database.
    EXPECT_EQ(QFileInfo(done.keptAt).size(), old.size);
    EXPECT_TRUE(done.keptAt.startsWith(copies)) << done.keptAt.toStdString();
    {
        Connection kept(QStringLiteral("Con_Kept"));
        kept.Params = Connection::editParams(done.keptAt);
        EXPECT_NO_THROW(kept.Open());
    }
    // The new file keeps the old one's group and permissions: the server's user opens it.
    const QFileInfo now(path);
    EXPECT_EQ(now.groupId(), old.group);
    EXPECT_EQ(now.permissions(), old.permissions);
    EXPECT_EQ(databaseContents(path), before);  // read through the server
    EXPECT_TRUE(entries(data) == QStringList{QStringLiteral("fotos.fdb")})
        << entries(data).join(u',').toStdString();
}

}  // namespace
}  // namespace patrimonio::test
