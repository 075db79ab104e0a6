// Faults met in the middle of a run, through the window and against real databases: a target
// that is missing or read-only, an after folder that cannot be written, a photo database held
// by the server, hostile photos and photo names. Each ends with a clear message or is counted,
// the window is handed back, and nothing is lost.

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTextEdit>

#include "FaultWindow.h"
#include "JpegFixtures.h"
#include "PhotoPassLog.h"
#include "db/Connection.h"
#include "db/RecordSet.h"

namespace patrimonio::test {

namespace {

const QString kAfterFolder = QStringLiteral("Imagens_Depois");
const QString kBeforeFolder = QStringLiteral("Imagens_Antes");

// A file where the after folder should be: the folder cannot be made, and nothing can be
// written under it, whoever runs the tests (root included).
void blockFolder(const QString& exeDir, const QString& name) {
    QFile f(QDir(exeDir).filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a folder");
}

// One number from a query on a database opened by its bare path, as the photo pass opens it
// (the server cannot reach a file this process holds).
int bareNumber(const QString& path, const QString& sql) {
    Connection c(QStringLiteral("Con_Check"));
    c.Params = Connection::editParams(path);
    RecordSet rs(c);
    rs.setCommandText(sql);
    rs.Open();
    return rs.Fields(0).AsString().toInt();
}

// Replaces the photo (and its name) of one asset, through the server.
void setPhoto(const QString& path, int code, const QByteArray& photo, const QString& name) {
    Connection c(QStringLiteral("Con_Setup"));
    c.Params = Connection::editParams(kServerPrefix + path);
    RecordSet rs(c);
    rs.setCommandText(QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM "
                                     "WHERE BEM_CODIGO = %1")
                          .arg(code));
    rs.Open();
    ASSERT_FALSE(rs.Eof());
    rs.Edit();
    rs.FieldByName(QStringLiteral("BEM_IMAGEM")).setAsVariant(Value::binary(photo));
    rs.FieldByName(QStringLiteral("BEM_IMAGEM_NOME")).setAsString(name);
    rs.Post();
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
}

const QString kPhotoBytes =
    QStringLiteral("SELECT COALESCE(SUM(OCTET_LENGTH(BEM_IMAGEM)), 0) FROM PAT_BEM");
const QString kPhotoCount = QStringLiteral(
    "SELECT COUNT(*) FROM PAT_BEM WHERE BEM_IMAGEM IS NOT NULL AND OCTET_LENGTH(BEM_IMAGEM) > 0");

QByteArray forgedHugePhoto() {
    return withFrameSize(makeJpeg({64, 48}), 65000, 65000);
}

}  // namespace

class RunFaults : public FaultWindow {};

TEST_F(RunFaults, AMissingTargetEndsTheImportWithTheClientsMessage) {
    const Register r = makeRegister(5, false);
    const QString missing = folder.path(QStringLiteral("nao-existe.fdb"));
    ui().Edit4->setText(r.source);
    ui().Edit2->setText(missing);  // fails without a word, as every connect attempt does
    clickRun();

    const QStringList errors = takeErrorDialogs();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("nao-existe.fdb"))) << errors[0].toStdString();
    EXPECT_FALSE(completed());
    expectWindowGivenBack();
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_EQ(count(r.source, QStringLiteral("PAT_BEM")), 5);
}

TEST_F(RunFaults, AReadOnlyTargetEndsTheImportBeforeAnythingIsDeleted) {
    const Register r = makeRegister(5, false);
    const int targetOrgans = count(r.target, QStringLiteral("GORGAOUNIDADE"));
    ASSERT_GT(targetOrgans, 0);
    QProcess gfix;
    gfix.setProcessChannelMode(QProcess::MergedChannels);
    gfix.start(QStringLiteral("gfix"),
               {QStringLiteral("-mode"), QStringLiteral("read_only"), QStringLiteral("-user"),
                QStringLiteral("SYSDBA"), QStringLiteral("-password"), kPassword,
                kServerPrefix + r.target});
    ASSERT_TRUE(gfix.waitForFinished(60000));
    ASSERT_EQ(gfix.exitCode(), 0) << gfix.readAll().toStdString();

    chooseForImport(r);
    clickRun();

    const QStringList errors = takeErrorDialogs();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("read-only"))) << errors[0].toStdString();
    EXPECT_FALSE(completed());
    expectWindowGivenBack();
    EXPECT_EQ(count(r.target, QStringLiteral("GORGAOUNIDADE")), targetOrgans);
    EXPECT_EQ(count(r.source, QStringLiteral("PAT_BEM")), 5);
}

TEST_F(RunFaults, AnAfterFolderThatCannotBeWrittenKeepsImportedPhotosAsStored) {
    const Register r = makeRegister(6, true);
    const int photos = count(r.source, QStringLiteral("PAT_BEM"));
    ASSERT_EQ(number(r.source, kPhotoCount), photos);
    blockFolder(folder.path(), kAfterFolder);

    chooseForImport(r);
    clickRun();

    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_TRUE(completed());
    expectWindowGivenBack();
    // Every photo arrived, byte for byte as stored, and the log says so asset by asset.
    EXPECT_EQ(number(r.target, kPhotoCount), photos);
    EXPECT_EQ(number(r.target, kPhotoBytes), number(r.source, kPhotoBytes));
    EXPECT_EQ(ui().MemoLOG->toPlainText().count(QStringLiteral("foto importada como estava")),
              photos);
}

TEST_F(RunFaults, AnAfterFolderThatCannotBeWrittenIsCountedByThePhotoPass) {
    const Register r = makeRegister(4, true);
    const int storedBytes = number(r.source, kPhotoBytes);
    blockFolder(folder.path(), kAfterFolder);

    chooseForPhotos(r.source);
    clickRun();

    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_TRUE(messages.last().contains(QStringLiteral("Total de imagens não processadas 4")))
        << messages.last().toStdString();
    EXPECT_EQ(ui().MemoLOG->toPlainText().split(QStringLiteral(" - ")).size(), 4);
    expectWindowGivenBack();
    // No row was changed: every stored photo is still there as it was.
    EXPECT_EQ(bareNumber(r.source, kPhotoCount), 4);
    EXPECT_EQ(bareNumber(r.source, kPhotoBytes), storedBytes);
}

TEST_F(RunFaults, APhotoDatabaseHeldByTheServerGivesAClearMessageAndStaysUntouched) {
    const Register r = makeRegister(3, true);
    const int storedBytes = number(r.source, kPhotoBytes);
    // Another program holds the file through the server for as long as it is connected.
    Connection other(QStringLiteral("OutroPrograma"));
    other.Params = Connection::editParams(kServerPrefix + r.source);
    other.Open();
    chooseForPhotos(r.source);  // the bare path cannot be opened: silent, as ever
    EXPECT_FALSE(window->data().Con_Novo.Connected());

    clickRun();

    const QStringList errors = takeErrorDialogs();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("servidor Firebird"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("origem.fdb"))) << errors[0].toStdString();
    expectWindowGivenBack();
    EXPECT_FALSE(QDir(folder.path(kAfterFolder)).exists() &&
                 !QDir(folder.path(kAfterFolder)).isEmpty());
    EXPECT_EQ(number(r.source, kPhotoBytes), storedBytes);
}

TEST_F(RunFaults, AHugePictureIsKeptAsStoredByTheImportAndCountedByThePhotoPass) {
    const Register r = makeRegister(3, true);
    const int code = number(r.source, QStringLiteral("SELECT MIN(BEM_CODIGO) FROM PAT_BEM"));
    const QByteArray forged = forgedHugePhoto();
    setPhoto(r.source, code, forged, QStringLiteral("enorme.jpg"));

    chooseForImport(r);
    clickRun();
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_TRUE(completed());
    EXPECT_EQ(number(r.target, QStringLiteral("SELECT OCTET_LENGTH(BEM_IMAGEM) FROM PAT_BEM "
                                              "WHERE BEM_CODIGO = %1")
                                   .arg(code)),
              forged.size());
    EXPECT_TRUE(ui().MemoLOG->toPlainText().contains(QStringLiteral("65000 x 65000")))
        << ui().MemoLOG->toPlainText().toStdString();
    EXPECT_EQ(number(r.target, kPhotoCount), 3);
}

TEST_F(RunFaults, AHugePictureIsCountedAndLoggedByThePhotoPass) {
    const Register r = makeRegister(3, true);
    const int code = number(r.source, QStringLiteral("SELECT MIN(BEM_CODIGO) FROM PAT_BEM"));
    const QByteArray forged = forgedHugePhoto();
    setPhoto(r.source, code, forged, QStringLiteral("enorme.jpg"));

    chooseForPhotos(r.source);
    clickRun();
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_TRUE(messages.last().contains(QStringLiteral("Total de imagens não processadas 1")))
        << messages.last().toStdString();
    EXPECT_EQ(photoCodesLogged(ui().MemoLOG->toPlainText()), QString::number(code));
    EXPECT_EQ(bareNumber(r.source, QStringLiteral("SELECT OCTET_LENGTH(BEM_IMAGEM) FROM PAT_BEM "
                                                  "WHERE BEM_CODIGO = %1")
                                       .arg(code)),
              forged.size());
    EXPECT_EQ(bareNumber(r.source, kPhotoCount), 3);
}

// On Windows a path is resolved by its text, so "7__..\..\x.jpg" climbs out of the before
// folder whatever exists on disk. Making the folder "<code>__.." here lets the path resolve the
// same way on every system.
TEST_F(RunFaults, APhotoNameWithAFolderSeparatorIsCountedAndWritesNothingOutside) {
    const Register r = makeRegister(2, true);
    const int code = number(r.source, QStringLiteral("SELECT MIN(BEM_CODIGO) FROM PAT_BEM"));
    const QByteArray photo = makeJpeg({64, 48});
    setPhoto(r.source, code, photo, QStringLiteral("../fora.jpg"));
    ASSERT_TRUE(QDir().mkpath(folder.path(kBeforeFolder + QStringLiteral("/%1__..").arg(code))));
    ASSERT_TRUE(QDir().mkpath(folder.path(kAfterFolder + QStringLiteral("/%1 ..").arg(code))));

    chooseForPhotos(r.source);
    clickRun();
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_FALSE(QFile::exists(folder.path(kBeforeFolder + QStringLiteral("/fora.jpg"))));
    EXPECT_FALSE(QFile::exists(folder.path(kAfterFolder + QStringLiteral("/fora.jpg"))));
    EXPECT_EQ(photoCodesLogged(ui().MemoLOG->toPlainText()), QString::number(code));
    EXPECT_EQ(bareNumber(r.source, QStringLiteral("SELECT OCTET_LENGTH(BEM_IMAGEM) FROM PAT_BEM "
                                                  "WHERE BEM_CODIGO = %1")
                                       .arg(code)),
              photo.size());
}

}  // namespace patrimonio::test
