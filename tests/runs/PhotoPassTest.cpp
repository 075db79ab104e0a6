// The photo-only pass against real database files opened by bare path (the embedded engine, as
// the window does in photo-only mode) and real JPEG photos.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "FullFolder.h"
#include "JpegFixtures.h"
#include "PhotoPassLog.h"
#include "QStringPrinter.h"
#include "RecordingHost.h"
#include "RunOutcome.h"
#include "TestDatabase.h"
#include "core/Amounts.h"
#include "core/AppPaths.h"
#include "core/Errors.h"
#include "core/StatusConvention.h"
#include "db/DataModule.h"
#include "photos/JpegRecompressor.h"
#include "runs/PhotoBatches.h"
#include "runs/PhotoPass.h"
#include "runs/QualityText.h"

namespace patrimonio {
namespace {

using test::expectSameOutcome;
using test::outcomeOf;
using test::photoCodesLogged;
using test::photoPassGainLine;
using test::RecordingHost;
using test::RunOutcome;

// A small landscape photo with texture, so that the encoder has real work to do.
QByteArray makePhoto(int width, int height) {
    test::JpegShape shape;
    shape.width = width;
    shape.height = height;
    return test::makeJpeg(shape);
}

// A valid 1 x 1 PNG: a real picture, but not a JPEG.
QByteArray pngBytes() {
    return QByteArray::fromHex(
        "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
        "1f15c4890000000d49444154789c6360f8cfc0f01f0005000201aa1d5e"
        "d20000000049454e44ae426082");
}

const QByteArray kSchema =
    "CREATE TABLE PAT_BEM (\n"
    "  BEM_CODIGO INTEGER NOT NULL PRIMARY KEY,\n"
    "  BEM_DESCRICAO VARCHAR(60),\n"
    "  BEM_VALOR NUMERIC(15,2),\n"
    "  BEM_IMAGEM BLOB SUB_TYPE 0,\n"
    "  BEM_IMAGEM_NOME VARCHAR(100));\n";

// The database refuses every change of asset 7.
const QByteArray kRefuseSeven =
    "CREATE EXCEPTION E_FOTO_RECUSADA 'foto do bem 7 recusada';\n"
    "SET TERM ^ ;\n"
    "CREATE TRIGGER PAT_BEM_RECUSA FOR PAT_BEM BEFORE UPDATE AS\n"
    "BEGIN IF (NEW.BEM_CODIGO = 7) THEN EXCEPTION E_FOTO_RECUSADA; END^\n"
    "SET TERM ; ^\n";

struct Row {
    int code;
    std::optional<QByteArray> photo;  // none: NULL
    std::optional<QString> name;      // none: NULL
};

struct StoredRow {
    std::optional<QByteArray> photo;
    std::optional<QString> name;
};

class PhotoPass : public ::testing::Test {
protected:
    void SetUp() override {
        setExecutableDirForTesting(tmp.path(QStringLiteral("exe")));
        QDir().mkpath(tmp.path(QStringLiteral("exe")));
    }
    void TearDown() override { setExecutableDirForTesting({}); }

    // Created through the server, then opened only by its bare path.
    void createAssets(const std::vector<Row>& rows, const QByteArray& extraDdl = {}) {
        dbPath = test::createDatabase(tmp.path(QStringLiteral("bens.fdb")), kSchema + extraDdl);
        fill(data, dbPath, rows);
    }

    static void fill(DataModule& data, const QString& path, const std::vector<Row>& rows) {
        data.Con_Novo.Params = Connection::editParams(path);
        data.Con_Novo.Open();
        RecordSet& cds = data.CdsAux;
        cds.Close();
        cds.setCommandText(QStringLiteral(
            "SELECT BEM_CODIGO, BEM_DESCRICAO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM"));
        cds.Open();
        for (const Row& row : rows) {
            cds.Append();
            cds.FieldByName(QStringLiteral("BEM_CODIGO")).setAsVariant(Value::integer(row.code));
            cds.FieldByName(QStringLiteral("BEM_DESCRICAO"))
                .setAsString(QStringLiteral("Bem %1").arg(row.code));
            if (row.photo) {
                cds.FieldByName(QStringLiteral("BEM_IMAGEM"))
                    .setAsVariant(Value::binary(*row.photo));
            }
            cds.FieldByName(QStringLiteral("BEM_IMAGEM_NOME"))
                .setAsVariant(row.name ? Value::fromString(*row.name) : Value::null());
            cds.Post();
        }
        ASSERT_EQ(cds.ApplyUpdates(0), 0);
        cds.Close();
    }

    std::vector<Row> photoRows(int count) {
        std::vector<Row> rows;
        for (int code = 1; code <= count; ++code) {
            rows.push_back({code, photo, QStringLiteral("foto%1.jpg").arg(code)});
        }
        return rows;
    }

    StoredRow stored(int code) {
        RecordSet& cds = data.CdsAux;
        cds.Close();
        cds.setCommandText(
            QStringLiteral(
                "SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM WHERE BEM_CODIGO = %1")
                .arg(code));
        cds.Open();
        EXPECT_FALSE(cds.Eof()) << "no asset " << code;
        StoredRow row;
        const Value image = cds.FieldByName(QStringLiteral("BEM_IMAGEM")).AsVariant();
        if (!image.isNull()) row.photo = image.bytes();
        const Value name = cds.FieldByName(QStringLiteral("BEM_IMAGEM_NOME")).AsVariant();
        if (!name.isNull()) row.name = name.toString();
        cds.Close();
        return row;
    }

    PhotoPassEnd runPass() { return patrimonio::PhotoPass(data, counters, host).run(); }

    static QByteArray fileBytes(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return {};
        return f.readAll();
    }

    QString lastQuery() const { return data.CdsNovo.CommandText(); }

    // The batch queries in the order they ran (each seen at a pump after its rows, or last).
    void recordQueries() {
        auto queries = std::make_shared<QStringList>();
        host.onPump = [this, queries] {
            // The pump of a batch's opening comes before its query.
            const QStringList& events = host.events;
            if (events.size() > 1 &&
                events[events.size() - 2].startsWith(QStringLiteral("status:")))
                return;
            const QString q = data.CdsNovo.CommandText();
            if (!q.isEmpty() && (queries->isEmpty() || queries->last() != q)) *queries << q;
        };
        queriesSeen = queries;
    }
    QStringList queries() const {
        QStringList out = queriesSeen ? *queriesSeen : QStringList();
        if (out.isEmpty() || out.last() != lastQuery()) out << lastQuery();
        return out;
    }

    test::TempFolder tmp;
    QString dbPath;
    DataModule data;
    RunCounters counters;
    RecordingHost host;
    QByteArray photo = makePhoto(160, 120);
    std::shared_ptr<QStringList> queriesSeen;
};

// The one query of a pass, read batch after batch.
QString query(const QString& filter = {}) {
    return QStringLiteral(
               "SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM %1ORDER BY BEM_CODIGO")
        .arg(filter.isEmpty() ? QString() : filter + u' ');
}

// ---- The batch query and the checks of the operator's inputs ----

TEST(PhotoBatches, SkipListIsCheckedNotSpliced) {
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"", true},
        {"   ", true},
        {"9,30,105,1010", true},
        {" 9, 30 ", true},
        {"-3,+4", true},
        {"7", true},
        {"9;30", false},
        {"9,,30", false},
        {"9,", false},
        {",9", false},
        {"abc", false},
        {"9 30", false},
        {"9.5", false},
        {"'9'", false},
        {"1) OR (1=1", false},
        {"9,30)--", false},
        {"99999999999999999999", false},
        {"9,\u00a030", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isValidSkipList(QString::fromUtf8(c.text)), c.valid) << c.text;
    }
}

TEST(PhotoBatches, QueryTextKeepsTheListAsTyped) {
    EXPECT_EQ(passQuery(QString()), query());
    EXPECT_EQ(passQuery(QStringLiteral("  ")), query());
    EXPECT_EQ(
        passQuery(QStringLiteral("9,30,105,1010")),
        QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM "
                       "PAT_BEM WHERE BEM_CODIGO NOT IN (9,30,105,1010) ORDER BY BEM_CODIGO"));
    EXPECT_EQ(passQuery(QStringLiteral(" 9, 30 ")),
              query(QStringLiteral("WHERE BEM_CODIGO NOT IN ( 9, 30 )")));
}

TEST(PhotoBatches, QualityOfABatch) {
    EXPECT_EQ(photoPassQuality(QString()), 10);
    EXPECT_EQ(photoPassQuality(QStringLiteral("  ")), 10);
    EXPECT_EQ(photoPassQuality(QStringLiteral("0")), 0);
    EXPECT_EQ(photoPassQuality(QStringLiteral("60")), 60);
    for (const char* bad : {"abc", "6 0", "99999999999", "-"}) {
        EXPECT_THROW(photoPassQuality(QString::fromLatin1(bad)), AppError) << bad;
    }
}

TEST(PhotoBatches, StatusTextsAreTheOperatorsOwn) {
    EXPECT_EQ(kPhotoPassLoading, QStringLiteral("Carga das imagens, 50 por vêz."));
    EXPECT_EQ(kPhotoPassWorking, QStringLiteral("Motor em processamento."));
    EXPECT_EQ(kWaitingForPhotoEngine,
              QStringLiteral("Aguardando motor de processamento de imagens."));
    EXPECT_EQ(
        kPhotoPassNoConnection,
        QStringLiteral("Você não setou a conexão com um dos bancos, por favor, verifique isso."));
}

TEST(PhotoBatches, SummaryIsBuiltExactly) {
    EXPECT_EQ(photoPassSummary(118, 2),
              QStringLiteral("Imagens tratadas com sucesso.\r\nTotal de imagens processadas 118\r\n"
                             "Total de imagens não processadas 2\r\n\r\r\n\rBy Quorvelin"));
}

// ---- The pass ----

TEST_F(PhotoPass, WithoutAConnectionNothingStarts) {
    EXPECT_EQ(runPass(), PhotoPassEnd::NotStarted);
    EXPECT_EQ(host.statuses(), QStringList{kWaitingForPhotoEngine});
    EXPECT_EQ(host.messages(), QStringList{kPhotoPassNoConnection});
}

struct BatchCase {
    int rows;
    QList<int> maxima;  // rows of each batch
    int totalGeral;
};

class PhotoPassBatches : public PhotoPass, public ::testing::WithParamInterface<BatchCase> {};

TEST_P(PhotoPassBatches, FiftyAtATimeInCodeOrder) {
    const BatchCase& c = GetParam();
    // A photo every 25 rows among rows without, inserted in reverse order of their codes.
    std::vector<Row> rows;
    for (int code = c.rows; code >= 1; --code) {
        rows.push_back({code, code % 25 == 0 ? std::optional(photo) : std::nullopt,
                        QStringLiteral("f%1.jpg").arg(code)});
    }
    createAssets(rows);
    counters.Total_Geral = 300;  // left by an earlier run: the pass starts at 0 all the same
    recordQueries();
    EXPECT_EQ(runPass(), PhotoPassEnd::Finished);

    EXPECT_EQ(queries(), QStringList{query()});
    QStringList maxima;
    for (int m : c.maxima) maxima << QString::number(m);
    EXPECT_EQ(host.eventsWith(QStringLiteral("gauge-max:")), maxima);
    EXPECT_EQ(host.pauses, c.maxima.size());
    EXPECT_EQ(host.eventsWith(QStringLiteral("pause:")).count(QStringLiteral("1000")),
              c.maxima.size());
    EXPECT_EQ(counters.Total_Geral, c.totalGeral);
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(c.rows / 25, 0)});
    EXPECT_EQ(host.statuses().count(kPhotoPassLoading), c.maxima.size());
    EXPECT_EQ(host.statuses().last(), kPhotoPassWorking);
    for (int code = 25; code <= c.rows; code += 25) {
        EXPECT_EQ(stored(code).photo,
                  fileBytes(afterFolder() + QStringLiteral("%1 f%1.jpg").arg(code)));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, PhotoPassBatches,
                         ::testing::Values(BatchCase{120, {50, 50, 20}, 100},
                                           BatchCase{100, {50, 50, 0}, 100}, BatchCase{0, {0}, 0}),
                         [](const auto& p) { return "rows" + std::to_string(p.param.rows); });

class PhotoPassRowCounter : public PhotoPass, public ::testing::WithParamInterface<bool> {};

// The same label and gauge sequence with and without photos; the label is never set for the
// last row, and the gauge is clamped to its maximum.
TEST_P(PhotoPassRowCounter, ThreeRows) {
    const bool withPhotos = GetParam();
    std::vector<Row> rows;
    for (int code = 1; code <= 3; ++code) {
        rows.push_back(
            {code, withPhotos ? std::optional(photo) : std::nullopt, QStringLiteral("f.jpg")});
    }
    createAssets(rows);
    runPass();
    EXPECT_EQ(host.eventsWith(QStringLiteral("work:")), (QStringList{"2 de 3", "3 de 3"}));
    EXPECT_EQ(host.eventsWith(QStringLiteral("gauge:")), (QStringList{"2", "3", "4"}));
    EXPECT_EQ(host.gauge.progress(), 3);
    EXPECT_EQ(host.eventsWith(QStringLiteral("pump")).size(), 1 + 3);
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(withPhotos ? 3 : 0, 0)});
    for (int code = 1; code <= 3; ++code) {
        const StoredRow row = stored(code);
        EXPECT_EQ(row.name, QStringLiteral("f.jpg"));
        if (withPhotos) {
            EXPECT_NE(row.photo, photo);
        } else {
            EXPECT_FALSE(row.photo.has_value());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Photos, PhotoPassRowCounter, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "with" : "without"; });

struct NameCase {
    const char* label;
    std::optional<QString> name;
    QString fileName;                   // the name in both file names
    std::optional<QString> storedName;  // afterwards
};

class PhotoPassNames : public PhotoPass, public ::testing::WithParamInterface<NameCase> {};

TEST_P(PhotoPassNames, FilesAndStoredName) {
    const NameCase& c = GetParam();
    createAssets({{5, photo, c.name}});
    runPass();
    const QString before = beforeFolder() + QStringLiteral("5__") + c.fileName;
    const QString after = afterFolder() + QStringLiteral("5 ") + c.fileName;
    EXPECT_EQ(fileBytes(before), photo);
    const QByteArray recompressed = fileBytes(after);
    ASSERT_FALSE(recompressed.isEmpty());
    const StoredRow row = stored(5);
    EXPECT_EQ(row.photo, recompressed);
    EXPECT_EQ(row.name, c.storedName);
    EXPECT_EQ(counters.Erros, 0);
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(1, 0)});
}

const QString kFifty = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwx");

INSTANTIATE_TEST_SUITE_P(
    Names, PhotoPassNames,
    ::testing::Values(
        NameCase{"noExtension", QStringLiteral("FOTO001"), QStringLiteral("FOTO001.jpg"),
                 QStringLiteral("FOTO001.jpg")},
        NameCase{"fiftyCharacters", kFifty, kFifty.left(40) + QStringLiteral(".jpg"),
                 kFifty.left(40) + QStringLiteral(".jpg")},
        NameCase{"null", std::nullopt, QStringLiteral(".jpg"), QStringLiteral(".jpg")},
        NameCase{"empty", QString(), QStringLiteral(".jpg"), QStringLiteral(".jpg")},
        NameCase{"upperCaseExtension", QStringLiteral("foto.JPG"), QStringLiteral("foto.JPG"),
                 QStringLiteral("foto.JPG")},
        NameCase{"quote", QStringLiteral("O'Brien"), QStringLiteral("O'Brien.jpg"),
                 QStringLiteral("O'Brien.jpg")},
        NameCase{"accented", QStringLiteral("cadeira giratória"),
                 QStringLiteral("cadeira giratória.jpg"), QStringLiteral("cadeira giratória.jpg")}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(PhotoPass, QualityEmptyIsTenAndZeroIsOne) {
    struct Case {
        QString text;
        int quality;
    } cases[] = {{QString(), 10}, {QStringLiteral("0"), 1}, {QStringLiteral("60"), 60}};
    int code = 1;
    std::vector<Row> rows;
    for (size_t n = 0; n < std::size(cases); ++n)
        rows.push_back({code++, photo, QStringLiteral("f.jpg")});
    createAssets(rows);
    QDir().mkpath(tmp.path(QStringLiteral("ref")));
    code = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.quality);
        // One row a pass, so that each row gets its own quality.
        host.quality = c.text;
        host.skipList = QString();
        QStringList others;
        for (int other = 1; other <= 3; ++other) {
            if (other != code) others << QString::number(other);
        }
        host.skipList = others.join(u',');
        runPass();
        const QString before = beforeFolder() + QStringLiteral("%1__f.jpg").arg(code);
        const QString ref = tmp.path(QStringLiteral("ref/%1.jpg").arg(code));
        const std::optional<QByteArray> expected = SetJPGCompression(c.quality, before, ref);
        ASSERT_TRUE(expected.has_value());
        EXPECT_EQ(stored(code).photo, *expected);
        ++code;
    }
}

TEST_F(PhotoPass, APngIsLoggedAndItsRowUntouched) {
    createAssets({{3, photo, QStringLiteral("a.jpg")},
                  {4, pngBytes(), QStringLiteral("b.jpg")},
                  {5, photo, QStringLiteral("c.jpg")}});
    runPass();
    EXPECT_EQ(counters.Erros, 1);
    EXPECT_EQ(photoCodesLogged(host.log), QStringLiteral("4"));
    EXPECT_EQ(host.saves, 1);
    EXPECT_EQ(fileBytes(beforeFolder() + QStringLiteral("4__b.jpg")), pngBytes());
    EXPECT_FALSE(QFile::exists(afterFolder() + QStringLiteral("4 b.jpg")));
    const StoredRow row = stored(4);
    EXPECT_EQ(row.photo, pngBytes());
    EXPECT_EQ(row.name, QStringLiteral("b.jpg"));
    // The rows around it are written.
    EXPECT_EQ(stored(5).photo, fileBytes(afterFolder() + QStringLiteral("5 c.jpg")));
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(2, 1)});
}

TEST_F(PhotoPass, TwoFailuresAreLoggedOnceEachAndSavedEachTime) {
    std::vector<Row> rows = photoRows(45);
    rows[11].photo = pngBytes();                   // code 12
    rows[39].photo = QByteArray("not a picture");  // code 40
    createAssets(rows);
    int savesSeenAtSecondSave = -1;
    host.onSaveLog = [&] {
        if (host.log.contains(u'-')) savesSeenAtSecondSave = host.saves;
    };
    runPass();
    EXPECT_EQ(photoCodesLogged(host.log), QStringLiteral("12 - 40"));
    EXPECT_EQ(host.saves, 2);
    EXPECT_EQ(savesSeenAtSecondSave, 1);  // the log was saved with 12 alone first
}

TEST_F(PhotoPass, SummaryCountsTheWholePass) {
    std::vector<Row> rows = photoRows(120);
    rows[11].photo = pngBytes();  // code 12, first batch
    rows[69].photo = pngBytes();  // code 70, second batch
    rows[99].photo.reset();       // code 100, no photo: neither figure
    createAssets(rows);
    runPass();
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(117, 2)});
    EXPECT_EQ(photoCodesLogged(host.log), QStringLiteral("12 - 70"));
    EXPECT_EQ(counters.Total_Geral, 100);
}

TEST_F(PhotoPass, TwoPassesInARowKeepEveryOriginal) {
    createAssets(photoRows(60));
    runPass();
    const QByteArray firstResult = *stored(55).photo;
    host = RecordingHost();
    recordQueries();
    EXPECT_EQ(runPass(), PhotoPassEnd::Finished);
    EXPECT_EQ(queries(), QStringList{query()});
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(60, 0)});
    // The second pass recompressed the first pass's result again, and kept that as a backup of
    // its own beside the original, which is untouched.
    for (int code = 1; code <= 60; ++code) {
        EXPECT_EQ(fileBytes(beforeFolder() + QStringLiteral("%1__foto%1.jpg").arg(code)), photo)
            << code;
    }
    EXPECT_EQ(fileBytes(beforeFolder() + QStringLiteral("55__foto55 (2).jpg")), firstResult);
    EXPECT_EQ(stored(55).photo, fileBytes(afterFolder() + QStringLiteral("55 foto55.jpg")));
    EXPECT_EQ(QDir(beforeFolder()).entryList(QDir::Files).size(), 120);

    // The originals back in the database (as another copy of it would hold them): they are
    // backed up already, and nothing is added.
    RecordSet& cds = data.CdsAux;
    cds.Close();
    cds.setCommandText(QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM FROM PAT_BEM"));
    cds.Open();
    while (!cds.Eof()) {
        cds.Edit();
        cds.FieldByName(QStringLiteral("BEM_IMAGEM")).setAsVariant(Value::binary(photo));
        cds.Post();
        cds.Next();
    }
    ASSERT_EQ(cds.ApplyUpdates(0), 0);
    cds.Close();
    host = RecordingHost();
    EXPECT_EQ(runPass(), PhotoPassEnd::Finished);
    EXPECT_EQ(QDir(beforeFolder()).entryList(QDir::Files).size(), 120);
    EXPECT_EQ(fileBytes(beforeFolder() + QStringLiteral("55__foto55.jpg")), photo);
}

TEST_F(PhotoPass, ABeforeFolderOnAFullDiskLeavesEveryPhotoAsItWas) {
    createAssets({{3, photo, QStringLiteral("a.jpg")}, {4, photo, QStringLiteral("FOTO4")}});
    test::FullFolder disk(beforeFolder());
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot().toStdString();
    EXPECT_EQ(runPass(), PhotoPassEnd::Finished);
    for (int code : {3, 4}) {
        const StoredRow row = stored(code);
        EXPECT_EQ(row.photo, photo) << code;
    }
    EXPECT_EQ(stored(4).name, QStringLiteral("FOTO4"));
    EXPECT_EQ(disk.entries(), QStringList()) << "no partial before file";
    EXPECT_TRUE(QDir(afterFolder()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(counters.Erros, 2);
    EXPECT_EQ(host.saves, 2);
    EXPECT_TRUE(
        host.log.startsWith(QStringLiteral("3 (o arquivo da foto original não pôde ser "
                                           "gravado: ")))
        << host.log.toStdString();
    EXPECT_TRUE(host.log.contains(QStringLiteral(" - 4 (o arquivo da foto original")));
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(0, 2)});
}

TEST_F(PhotoPass, ARefusedWriteBackKeepsTheStoredPhotoAndThePassGoesOn) {
    std::vector<Row> rows = photoRows(10);
    rows[6].name = QStringLiteral("FOTO7");  // code 7, a made name that must not land either
    createAssets(rows, kRefuseSeven);
    runPass();
    const StoredRow seven = stored(7);
    EXPECT_EQ(seven.photo, photo);
    EXPECT_EQ(seven.name, QStringLiteral("FOTO7"));
    for (int code : {6, 8, 10}) {
        EXPECT_EQ(stored(code).photo,
                  fileBytes(afterFolder() + QStringLiteral("%1 foto%1.jpg").arg(code)));
    }
    EXPECT_TRUE(host.log.startsWith(QStringLiteral("7 (")));
    EXPECT_TRUE(host.log.contains(QStringLiteral("foto do bem 7 recusada")))
        << host.log.toStdString();
    EXPECT_EQ(host.saves, 1);
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(9, 1)});
}

// The pass ends its log with what it gained, counting only the photos it wrote: neither the
// picture it could not read (4) nor the row the database refused (7).
TEST_F(PhotoPass, TheLogSaysTheBytesOfThePhotosWrittenAndTheFileSize) {
    std::vector<Row> rows = photoRows(10);
    rows[3].photo = pngBytes();
    createAssets(rows, kRefuseSeven);
    ASSERT_EQ(runPass(), PhotoPassEnd::Finished);
    std::int64_t before = 0;
    std::int64_t after = 0;
    for (int code : {1, 2, 3, 5, 6, 8, 9, 10}) {
        before += photo.size();
        after += stored(code).photo->size();
    }
    const QStringList lines = host.log.split(u'\n');
    ASSERT_EQ(lines.size(), 3) << host.log.toStdString();  // codes, gain, the line's end
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Fotos gravadas: %1 antes, %2 depois. ")
                                        .arg(sizeText(before), sizeText(after))))
        << lines[1].toStdString();
    EXPECT_TRUE(photoPassGainLine().match(lines[1]).hasMatch()) << lines[1].toStdString();
    EXPECT_EQ(lines[2], QString());
    EXPECT_EQ(photoCodesLogged(host.log).left(6), QStringLiteral("4 - 7 "));
}

// Another program renumbers a row the pass has already handled, from 5 to 1000. Read with
// FIRST/SKIP, the next batch would start one row late, so that row 51 was never handled, and
// row 1000 would be handled a second time.
TEST_F(PhotoPass, ARowChangedByAnotherProgramIsNeitherSkippedNorRepeated) {
    createAssets(photoRows(100));
    Connection other(QStringLiteral("other"));
    other.Params = Connection::editParams(dbPath);
    int pumps = 0;
    host.onPump = [&] {
        // After row 10, when row 5 has been written back.
        if (++pumps == 11) {
            EXPECT_EQ(other.ExecuteDirect(
                          QStringLiteral("UPDATE PAT_BEM SET BEM_CODIGO = 1000, BEM_DESCRICAO = "
                                         "'renumerado' WHERE BEM_CODIGO = 5")),
                      1);
        }
    };

    EXPECT_EQ(runPass(), PhotoPassEnd::Finished);

    EXPECT_EQ(host.eventsWith(QStringLiteral("gauge-max:")), (QStringList{"50", "50", "0"}));
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(100, 0)});
    EXPECT_EQ(photoCodesLogged(host.log), QString());
    for (int code = 1; code <= 100; ++code) {
        if (code == 5) continue;
        EXPECT_EQ(stored(code).photo,
                  fileBytes(afterFolder() + QStringLiteral("%1 foto%1.jpg").arg(code)))
            << code;
    }
    // The renumbered row keeps the photo it was given once, and was not met again.
    EXPECT_EQ(stored(1000).photo, fileBytes(afterFolder() + QStringLiteral("5 foto5.jpg")));
    EXPECT_FALSE(QFile::exists(beforeFolder() + QStringLiteral("1000__foto5.jpg")));
}

// Codes typed during the pass count from the next batch on; the pass goes on after the last row
// it handled, without meeting a row twice.
TEST_F(PhotoPass, SkipListAsTyped) {
    createAssets(photoRows(5));
    host.skipList = QStringLiteral(" 2, 4 ");
    runPass();
    EXPECT_EQ(lastQuery(), query(QStringLiteral("WHERE BEM_CODIGO NOT IN ( 2, 4 )")));
    for (int code : {2, 4}) EXPECT_EQ(stored(code).photo, photo);
    for (int code : {1, 3, 5}) EXPECT_NE(stored(code).photo, photo);
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(3, 0)});
}

TEST_F(PhotoPass, AnInvalidSkipListStopsThePassBeforeItStarts) {
    createAssets(photoRows(3));
    host.skipList = QStringLiteral("9) OR (1=1");
    EXPECT_EQ(runPass(), PhotoPassEnd::NotStarted);
    ASSERT_EQ(host.messages().size(), 1);
    EXPECT_TRUE(host.messages()[0].contains(QStringLiteral("9) OR (1=1")));
    EXPECT_FALSE(host.statuses().contains(kPhotoPassLoading));
    EXPECT_FALSE(data.CdsNovo.active());
    for (int code = 1; code <= 3; ++code) EXPECT_EQ(stored(code).photo, photo);
}

TEST_F(PhotoPass, TheQualityAndCodesToSkipReadAtTheStartHoldForTheWholePass) {
    createAssets(photoRows(70));
    host.skipList = QStringLiteral("3");
    host.quality = QStringLiteral("60");
    recordQueries();
    int pumps = 0;
    const auto changeBoth = host.onPump;
    host.onPump = [&] {
        if (changeBoth) changeBoth();
        if (++pumps != 10) return;
        host.skipList = QStringLiteral("9;30");
        host.quality = QString();
    };
    EXPECT_EQ(runPass(), PhotoPassEnd::Finished);
    const QString filter = QStringLiteral("WHERE BEM_CODIGO NOT IN (3)");
    EXPECT_EQ(queries(), QStringList{query(filter)});
    EXPECT_EQ(host.messages(), QStringList{photoPassSummary(69, 0)});
    EXPECT_EQ(stored(3).photo, photo);
    // Every row holds the same photo: the second batch got the quality of the first.
    for (int code : {60, 70}) EXPECT_EQ(stored(code).photo, stored(2).photo) << code;
}

TEST_F(PhotoPass, AnErrorEndsThePassWithoutItsSummary) {
    createAssets({{1, photo, QStringLiteral("a.jpg")}, {2, pngBytes(), QStringLiteral("b.jpg")}});
    struct Case {
        const char* label;
        std::function<void(RecordingHost&)> arrange;
    } cases[] = {
        {"quality", [](RecordingHost& h) { h.quality = QStringLiteral("sessenta"); }},
        {"log file",
         [](RecordingHost& h) {
             h.onSaveLog = [] { throw AppError(QStringLiteral("Cannot create file")); };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        host = RecordingHost();
        c.arrange(host);
        EXPECT_THROW(runPass(), AppError);
        EXPECT_TRUE(host.messages().isEmpty());
    }
}

// ---- Workers ----

// A recording host the operator can stop, and that lets a test act during a pause.
class StoppableHost : public RecordingHost {
public:
    bool stop = false;
    std::function<void(StoppableHost&)> onPause;
    bool stopRequested() const override { return stop; }
    void pause(int milliseconds) override {
        RecordingHost::pause(milliseconds);
        if (onPause) onPause(*this);
    }
};

// The same batches of mixed rows, passed with and without workers, in folders of their own.
class PhotoPassWorkers : public PhotoPass {
protected:
    // The figures are the rows processed, the rows failed and whether the pass raised (1) or
    // stopped (2). Paths of the pass's own folder read "<exe>" in the log and the events, and
    // the random part of a temporary file's name reads XXXXXX.
    RunOutcome passWith(int workers, const std::vector<Row>& rows,
                        const std::function<void(StoppableHost&)>& arrange = {}) {
        const QString world = QStringLiteral("workers%1").arg(workers);
        setExecutableDirForTesting(tmp.path(world));
        QDir(tmp.path(world)).removeRecursively();
        QDir().mkpath(tmp.path(world));
        const QString path = tmp.path(world + QStringLiteral(".fdb"));
        QFile::remove(path);
        test::createDatabase(path, kSchema + kRefuseSeven);
        DataModule module;
        fill(module, path, rows);
        RunCounters runCounters;
        StoppableHost recording;
        if (arrange) arrange(recording);
        patrimonio::PhotoPass pass(module, runCounters, recording, workers);
        int end = 0;
        try {
            end = pass.run() == PhotoPassEnd::Stopped ? 2 : 0;
        } catch (const AppError&) {
            end = 1;
        }

        RunOutcome out = outcomeOf(recording);
        out.figures = {pass.processed(), pass.failed(), end};
        const QString exe = tmp.path(world);
        static const QRegularExpression temporary(QStringLiteral("importador-\\w+\\.tmp"));
        const auto plain = [&](QString& text) {
            text.replace(exe, QStringLiteral("<exe>"));
            text.replace(temporary, QStringLiteral("importador-XXXXXX.tmp"));
        };
        plain(out.log);
        for (QString& event : out.events) plain(event);
        // Code, name and photo of every row.
        RecordSet& cds = module.CdsAux;
        cds.Close();
        cds.setCommandText(QStringLiteral(
            "SELECT BEM_CODIGO, BEM_IMAGEM_NOME, BEM_IMAGEM FROM PAT_BEM ORDER BY BEM_CODIGO"));
        cds.Open();
        for (; !cds.Eof(); cds.Next()) {
            const QByteArray bytes = cds.Fields(2).AsVariant().bytes();
            out.rows << cds.Fields(0).AsString() + u' ' + cds.Fields(1).AsString() + u' ' +
                            QString::fromLatin1(bytes.toBase64());
        }
        cds.Close();
        return out;
    }
};

TEST_F(PhotoPassWorkers, GiveByteForByteWhatOneAtATimeGives) {
    // Two full batches and a last one, mixing photos that recompress, photos that fail on a
    // worker in the middle of a batch (a PNG, bytes that are no picture, a JPEG cut short after
    // its header), rows without a photo, made names, and a row the database refuses.
    const QByteArray big = makePhoto(900, 700);
    std::vector<Row> rows;
    for (int code = 1; code <= 117; ++code) {
        Row row{code, code % 3 == 0 ? big : photo, QStringLiteral("foto%1.jpg").arg(code)};
        if (code % 11 == 0) row.photo.reset();
        if (code % 13 == 0) row.name = QStringLiteral("SEMEXT%1").arg(code);
        if (code == 14 || code == 64) row.photo = pngBytes();
        if (code == 26 || code == 90) row.photo = QByteArray("not a picture");
        if (code == 27) row.photo = big.left(600);
        if (code == 40) row.name.reset();
        rows.push_back(row);
    }

    const RunOutcome alone = passWith(0, rows);
    ASSERT_FALSE(HasFailure());
    const qint64 processed = alone.figures.value(0);
    const qint64 failed = alone.figures.value(1);
    EXPECT_EQ(alone.waits, 0);
    EXPECT_GE(failed, 5);
    EXPECT_FALSE(alone.after.isEmpty());
    for (const int workers : {1, 3}) {
        SCOPED_TRACE(workers);
        expectSameOutcome(passWith(workers, rows), alone);
    }
    // The box showed each photo recompressed (the refused row's too, before its write-back),
    // and was emptied for each that failed.
    EXPECT_EQ(alone.photosShown.size(), processed + failed);
    EXPECT_EQ(alone.photosShown.count(QStringLiteral("0x0")), failed - 1);
    EXPECT_TRUE(alone.photosShown.contains(QStringLiteral("600x466")));
}

TEST_F(PhotoPassWorkers, GiveWhatOneAtATimeGivesWhenAPhotoFailsOrThePassStopsOrFails) {
    // Three batches of photos, read ahead by the workers and their originals saved ahead by the
    // saver; something happens at row 30, in the middle of the first batch, or in the second.
    const QByteArray big = makePhoto(900, 700);
    const auto baseRows = [&] {
        std::vector<Row> rows;
        for (int code = 1; code <= 120; ++code)
            rows.push_back(
                {code, code % 4 == 0 ? big : photo, QStringLiteral("foto%1.jpg").arg(code)});
        return rows;
    };
    // A name that no file can have: 90 euro signs are 270 bytes in a file name.
    const QString tooLong = QString(90, QChar(0x20AC)) + QStringLiteral(".jpg");
    struct Case {
        const char* label;
        std::function<void(std::vector<Row>&)> rows;
        std::function<void(StoppableHost&)> arrange;
        int end;  // 0 finished, 1 raised, 2 stopped
    } cases[] = {
        {"a photo that fails in the middle of a batch",
         [&](std::vector<Row>& r) { r[29].photo = pngBytes(); },
         {},
         0},
        {"an original that cannot be saved in the middle of a batch",
         [&](std::vector<Row>& r) { r[29].name = tooLong; },
         {},
         0},
        {"a stop asked in the middle of the second batch",
         {},
         [&](StoppableHost& h) {
             // At the 25th pump after the second pause.
             auto pumps = std::make_shared<int>(0);
             h.onPump = [&h, pumps] {
                 if (h.pauses == 2 && ++*pumps == 25) h.stop = true;
             };
         },
         2},
        {"a stop asked during the second batch's pause",
         {},
         [](StoppableHost& h) {
             h.onPause = [](StoppableHost& host) {
                 if (host.pauses == 2) host.stop = true;
             };
         },
         2},
        {"the log file failing at the first failure (row 7, refused) ends the pass there",
         {},
         [](StoppableHost& h) {
             h.onSaveLog = [] { throw AppError(QStringLiteral("Cannot create file")); };
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<Row> rows = baseRows();
        if (c.rows) c.rows(rows);
        const RunOutcome alone = passWith(0, rows, c.arrange);
        ASSERT_EQ(alone.figures.value(2), c.end);
        if (c.end == 1) {
            // The pass ended at row 7: no row after it left an original behind.
            EXPECT_TRUE(alone.before.contains(QStringLiteral("7__foto7.jpg")));
            EXPECT_FALSE(alone.before.contains(QStringLiteral("8__foto8.jpg")));
        }
        if (c.end == 2) {
            // Stopped after the second batch: the third left nothing.
            EXPECT_TRUE(alone.before.contains(QStringLiteral("100__foto100.jpg")));
            EXPECT_FALSE(alone.before.contains(QStringLiteral("101__foto101.jpg")));
        }
        // Two workers: one per core on the machines the program runs on.
        expectSameOutcome(passWith(2, rows, c.arrange), alone);
    }
}

}  // namespace
}  // namespace patrimonio
