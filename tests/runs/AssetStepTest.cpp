// The asset step against real registers on the server, with real photos: paging, the photo
// path and its fallbacks, refused rows, and what the operator sees.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

#include "FullFolder.h"
#include "JpegFixtures.h"
#include "RegisterPair.h"
#include "RunOutcome.h"
#include "core/AppPaths.h"
#include "core/Errors.h"
#include "photos/JpegRecompressor.h"

namespace patrimonio::test {
namespace {

// The smallest PNG picture: a photo stored in another picture format.
const QByteArray kPng = QByteArray::fromHex(
    "89504e470d0a1a0a0000000d49484452000000010000000108060000001f15c4890000000a49444154789c6300"
    "0100000500010d0a2db40000000049454e44ae426082");

// The before and after folders live in the test's own folder.
class AssetStep : public ::testing::Test {
protected:
    void TearDown() override { setExecutableDirForTesting({}); }

    // A pair whose source holds `assets` assets, every other table empty but those given.
    std::unique_ptr<RegisterPair> makePair(int assets, bool photos,
                                           const QByteArray& targetDdl = {},
                                           QMap<QString, int> rows = {}) {
        auto pair = std::make_unique<RegisterPair>(QByteArray(), targetDdl);
        rows.insert(QStringLiteral("PAT_BEM"), assets);
        pair->generate(rows, false, photos);
        exeDir = pair->folder.path(QStringLiteral("programa"));
        setExecutableDirForTesting(exeDir);
        return pair;
    }

    // Replaces the photo and its name of one source asset, through a record set as any client.
    static void setSourcePhoto(RegisterPair& pair, int code, const QByteArray& bytes,
                               const QString& name) {
        RecordSet& rs = pair.data.CdsAux;
        rs.Close();
        rs.setCommandText(QStringLiteral("SELECT * FROM PAT_BEM WHERE BEM_CODIGO = %1").arg(code));
        rs.Open();
        rs.Edit();
        rs.FieldByName(QStringLiteral("BEM_IMAGEM")).setAsVariant(Value::binary(bytes));
        rs.FieldByName(QStringLiteral("BEM_IMAGEM_NOME")).setAsString(name);
        rs.Post();
        ASSERT_EQ(rs.ApplyUpdates(0), 0);
        rs.Close();
    }

    // The photo a database holds for an asset; nothing when it is null.
    static std::optional<QByteArray> photoIn(Connection& connection, int code) {
        RecordSet rs(connection);
        rs.setCommandText(
            QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM FROM PAT_BEM WHERE BEM_CODIGO = %1")
                .arg(code));
        rs.Open();
        if (rs.Eof() || rs.Fields(1).isNull()) return std::nullopt;
        return rs.Fields(1).AsVariant().bytes();
    }

    static std::optional<QByteArray> fileBytes(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
        return file.readAll();
    }

    QString beforeFile(const QString& code, const QString& name) const {
        return exeDir + QStringLiteral("/Imagens_Antes/") + code + QStringLiteral("__") + name;
    }
    QString afterFile(const QString& code, const QString& name) const {
        return exeDir + QStringLiteral("/Imagens_Depois/") + code + QStringLiteral(" ") + name;
    }

    QString exeDir;
};

// ---- Pages -----------------------------------------------------------------------------------

struct PagingCase {
    const char* name;
    int assets;
    QList<int> offsets;        // rows before each page, in order
    QList<int> pageRows;       // gauge maximum of each page
    int totalAfter;            // Total after the step
    int trailingWaitStatuses;  // "Aguardando..." at the end: the last page's and one per full page
};

void PrintTo(const PagingCase& c, std::ostream* os) {
    *os << c.name;
}

class AssetStepPaging : public AssetStep, public ::testing::WithParamInterface<PagingCase> {};

TEST_P(AssetStepPaging, ReadsPagesOfAHundredInCodeOrderFromOffsetZero) {
    const PagingCase& c = GetParam();
    auto pair = makePair(c.assets, false);
    // Left over from an earlier run or a photo-only pass: it must not move the first page.
    pair->counters.Total_Geral = 700;
    QStringList pageSelects;
    const auto notePage = [&] {
        const QString text = pair->data.CdsNovo.CommandText();
        if (!text.isEmpty() && (pageSelects.isEmpty() || pageSelects.last() != text))
            pageSelects << text;
    };
    pair->host.onPump = notePage;

    pair->run.SetImport_Bens();
    notePage();

    // One query read page after page.
    EXPECT_EQ(pageSelects, QStringList{"SELECT * FROM PAT_BEM ORDER BY BEM_CODIGO ASC"});
    QStringList maxima;
    for (int rows : c.pageRows) maxima << QString::number(rows);
    EXPECT_EQ(pair->host.eventsWith("gauge-max:"), maxima);
    EXPECT_EQ(pair->host.pauses, c.offsets.size());
    EXPECT_EQ(pair->counters.Total, c.totalAfter);
    EXPECT_EQ(pair->counters.Total_Geral, c.offsets.last());

    const QStringList statuses = pair->host.statuses();
    EXPECT_EQ(statuses.mid(statuses.size() - c.trailingWaitStatuses),
              QStringList(QList<QString>(c.trailingWaitStatuses, "Aguardando...")));
    EXPECT_NE(statuses.value(statuses.size() - c.trailingWaitStatuses - 1), "Aguardando...");

    EXPECT_EQ(pair->target("SELECT BEM_CODIGO FROM PAT_BEM ORDER BY 1"),
              pair->source("SELECT BEM_CODIGO FROM PAT_BEM ORDER BY 1"));
    const TableTally& tally = pair->run.report().tables().front();
    EXPECT_EQ(tally.read, c.assets);
    EXPECT_EQ(tally.written, c.assets);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, AssetStepPaging,
    ::testing::Values(PagingCase{"TwoAndAHalfPages", 250, {0, 100, 200}, {100, 100, 50}, 50, 3},
                      PagingCase{
                          "TwoFullPagesThenAnEmptyOne", 200, {0, 100, 200}, {100, 100, 0}, 0, 3},
                      PagingCase{"EmptyTable", 0, {0}, {0}, 0, 1}),
    [](const ::testing::TestParamInfo<PagingCase>& c) { return std::string(c.param.name); });

// Codes need not be unique: a register without the key gives ten rows of code 95 across the
// boundary of the first page, and more repeated codes further on. Rows are filled in an order
// of their own, so that only the query's order can bring them in code order.
class AssetStepRepeatedCodes : public AssetStep, public ::testing::WithParamInterface<bool> {};

TEST_P(AssetStepRepeatedCodes, EveryRowArrivesOnceInCodeOrder) {
    const bool indexed = GetParam();
    const QByteArray ddl =
        "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL, BEM_DESCRICAO VARCHAR(40),\n"
        "  BV_CODIGO INTEGER, BEM_IMAGEM BLOB SUB_TYPE 0, BEM_IMAGEM_NOME VARCHAR(100));\n" +
        QByteArray(indexed ? "CREATE INDEX IX_BEM_CODIGO ON PAT_BEM (BEM_CODIGO);\n" : "");
    RegisterPair pair = RegisterPair::custom(ddl, ddl);
    exeDir = pair.folder.path(QStringLiteral("programa"));
    setExecutableDirForTesting(exeDir);
    QStringList script;
    for (int k = 0; k < 250; ++k) {
        const int row = (k * 97) % 250;  // every row once, scattered
        // Rows 95..104 share code 95; rows 195..199 code 195; the rest their own number.
        const int code = row >= 95 && row < 105 ? 95 : row >= 195 && row < 200 ? 195 : row;
        script << QStringLiteral(
                      "INSERT INTO PAT_BEM (BEM_CODIGO, BEM_DESCRICAO) VALUES (%1, "
                      "'linha %2');")
                      .arg(code)
                      .arg(row);
    }
    runIsql((script.join(u'\n') + QStringLiteral("\ncommit;\n")).toUtf8(), pair.sourcePath);

    // The rows in the order the step meets them, read as each row is handled.
    QStringList met;
    QList<int> codes;
    pair.host.onPump = [&] {
        const QStringList& events = pair.host.events;
        if (events.size() < 2 || events[events.size() - 2] != "status:Importando Bem.") return;
        met << pair.data.CdsNovo.FieldByName("BEM_DESCRICAO").AsString();
        codes << pair.data.CdsNovo.FieldByName("BEM_CODIGO").AsString().toInt();
    };

    pair.run.SetImport_Bens();

    EXPECT_EQ(pair.host.eventsWith("gauge-max:"), (QStringList{"100", "100", "50"}));
    EXPECT_EQ(met.size(), 250);
    EXPECT_EQ(QSet<QString>(met.begin(), met.end()).size(), 250);  // none twice
    EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end()));
    EXPECT_EQ(pair.target("SELECT BEM_CODIGO, BEM_DESCRICAO FROM PAT_BEM ORDER BY 1, 2"),
              pair.source("SELECT BEM_CODIGO, BEM_DESCRICAO FROM PAT_BEM ORDER BY 1, 2"));
}

INSTANTIATE_TEST_SUITE_P(Plans, AssetStepRepeatedCodes, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "indexed" : "sorted"; });

TEST_F(AssetStep, FullPageShowsGaugeCounterAndStatusesInOrder) {
    auto pair = makePair(100, false);

    pair->run.SetImport_Bens();

    QStringList expected{"status:Importando os bens.", "pump", "pause:1000", "gauge-max:100",
                         "gauge-min:0"};
    for (int j = 0; j < 100; ++j) {
        expected << "status:Aguardando motor de processamento de imagens."
                 << "pump"
                 << "status:Importando Bem."
                 << "pump" << QStringLiteral("gauge:%1").arg(j);
        // The last row writes the page back and goes straight to the next page.
        if (j < 99) expected << QStringLiteral("work:%1 de 100").arg(j) << "pump";
    }
    expected << "status:Importando os bens."
             << "pump"
             << "pause:1000"
             << "gauge-max:0"
             << "gauge-min:0"
             << "status:Aguardando..."
             << "status:Aguardando...";
    EXPECT_EQ(pair->host.events, expected);
    EXPECT_EQ(pair->targetCount("PAT_BEM"), 100);
}

TEST_F(AssetStep, EveryColumnButTheAssetValueReferenceArrivesAsStored) {
    // Every third asset refers to an asset value.
    auto pair = makePair(30, false, {}, {{"PAT_BEM_VALOR", 10}});

    pair->run.SetImport_Bens();

    const QString columns = QStringLiteral(
        "BEM_CODIGO, BEM_PLAQUETA, BEM_DESCRICAO, BEM_OBSERVACAO, TB_CODIGO, LOC_CODIGO, "
        "SUB_CODIGO, RES_CODIGO, BEM_DATA_AQUISICAO, BEM_VALOR_AQUISICAO, BEM_VALOR_RESIDUAL, "
        "BEM_ANO_AQUISICAO, BEM_NOTA_FISCAL, BEM_FORNECEDOR, BEM_ESTADO, BEM_IMAGEM_NOME");
    const QString sql = QStringLiteral("SELECT %1 FROM PAT_BEM ORDER BY 1").arg(columns);
    EXPECT_EQ(pair->target(sql), pair->source(sql));
    ASSERT_GT(
        pair->source("SELECT COUNT(*) FROM PAT_BEM WHERE BV_CODIGO IS NOT NULL").value(0).toInt(),
        0);
    EXPECT_EQ(pair->target("SELECT COUNT(*) FROM PAT_BEM WHERE BV_CODIGO IS NOT NULL"),
              QStringList{"0"});
}

TEST_F(AssetStep, TwoRunsInARowBothCopyEveryAsset) {
    auto pair = makePair(230, false);

    pair->run.run();
    ASSERT_EQ(pair->targetCount("PAT_BEM"), 230);
    pair->run.run();

    EXPECT_EQ(pair->target("SELECT BEM_CODIGO FROM PAT_BEM ORDER BY 1"),
              pair->source("SELECT BEM_CODIGO FROM PAT_BEM ORDER BY 1"));
    EXPECT_TRUE(pair->host.log.contains("PAT_BEM: 230 lidos, 230 gravados, 0 recusados"));
    EXPECT_TRUE(
        pair->host.log.contains("Fotos dos bens: 0 recompactadas, 0 mantidas sem "
                                "recompactar, 230 bens sem foto; 0 bytes antes, 0 bytes "
                                "depois"));
}

TEST_F(AssetStep, RefusedAssetOnTheSecondPageLeavesOnlyItselfOut) {
    auto pair = makePair(
        250, false, "ALTER TABLE PAT_BEM ADD CONSTRAINT CK_RECUSA CHECK (BEM_CODIGO <> 150);\n");

    pair->run.SetImport_Bens();

    EXPECT_EQ(pair->targetCount("PAT_BEM"), 249);
    EXPECT_EQ(pair->target("SELECT COUNT(*) FROM PAT_BEM WHERE BEM_CODIGO = 150"),
              QStringList{"0"});
    const QStringList logged = pair->host.eventsWith("log:");
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].startsWith("Registro recusado em PAT_BEM, chave 150: "))
        << logged[0].toStdString();
    EXPECT_TRUE(logged[0].contains("CK_RECUSA")) << logged[0].toStdString();
    const TableTally& tally = pair->run.report().tables().front();
    EXPECT_EQ(tally.read, 250);
    EXPECT_EQ(tally.written, 249);
    EXPECT_EQ(tally.refused, 1);
}

// ---- Photos ----------------------------------------------------------------------------------

TEST_F(AssetStep, PhotosAreRecompressedOrArriveExactlyAsStoredWithALogLine) {
    // Generated: every tenth asset has no photo, asset 4 a name without extension ("FOTO004"),
    // the others a JPEG named bem_N.jpg (asset 6: IMG_6.JPG).
    auto pair = makePair(10, true);
    setSourcePhoto(*pair, 2, kPng, QStringLiteral("bem_2.jpg"));
    runIsql("UPDATE PAT_BEM SET BEM_IMAGEM = '' WHERE BEM_CODIGO = 3;\ncommit;\n",
            pair->sourcePath);
    ASSERT_FALSE(QFileInfo::exists(exeDir));

    pair->run.SetImport_Bens();

    // Folders are made with their parents at the first photo.
    EXPECT_TRUE(QFileInfo(exeDir + "/Imagens_Antes").isDir());
    EXPECT_TRUE(QFileInfo(exeDir + "/Imagens_Depois").isDir());

    Connection& source = pair->data.Con_Novo;
    Connection& target = pair->data.Con_Velho;
    // Kept as stored, byte for byte: a PNG, and a JPEG whose name has no extension.
    for (const auto& [code, name] :
         {std::pair{2, QStringLiteral("bem_2.jpg")}, std::pair{4, QStringLiteral("FOTO004")}}) {
        const std::optional<QByteArray> stored = photoIn(source, code);
        ASSERT_TRUE(stored) << code;
        EXPECT_EQ(photoIn(target, code), stored) << code;
        EXPECT_EQ(fileBytes(beforeFile(QString::number(code), name)), stored) << code;
        EXPECT_FALSE(QFileInfo::exists(afterFile(QString::number(code), name))) << code;
    }
    // No photo, or an empty one: null in the target, an empty before file, nothing logged.
    for (const auto& [code, name] :
         {std::pair{3, QStringLiteral("bem_3.jpg")}, std::pair{10, QString()}}) {
        EXPECT_EQ(photoIn(target, code), std::nullopt) << code;
        EXPECT_EQ(fileBytes(beforeFile(QString::number(code), name)), QByteArray()) << code;
    }
    // Recompressed: the target holds exactly the after file, a JPEG smaller than the original.
    for (const auto& [code, name] :
         {std::pair{1, QStringLiteral("bem_1.jpg")}, std::pair{6, QStringLiteral("IMG_6.JPG")},
          std::pair{9, QStringLiteral("bem_9.jpg")}}) {
        const std::optional<QByteArray> stored = photoIn(source, code);
        const std::optional<QByteArray> after = fileBytes(afterFile(QString::number(code), name));
        ASSERT_TRUE(stored && after) << code;
        EXPECT_EQ(fileBytes(beforeFile(QString::number(code), name)), stored) << code;
        EXPECT_EQ(photoIn(target, code), after) << code;
        EXPECT_TRUE(after->startsWith("\xff\xd8")) << code;
        EXPECT_NE(*after, *stored) << code;
    }

    const QStringList logged = pair->host.eventsWith("log:");
    ASSERT_EQ(logged.size(), 2) << logged.join('\n').toStdString();
    EXPECT_TRUE(
        logged[0].startsWith("Bem 2: foto importada como estava, sem recompactar: a "
                             "recompactação falhou ("))
        << logged[0].toStdString();
    EXPECT_EQ(logged[1],
              "Bem 4: foto importada como estava, sem recompactar: o nome da foto \"FOTO004\" "
              "não tem extensão.");

    const PhotoTally& photos = pair->run.report().photos;
    EXPECT_EQ(photos.assets, 10);
    EXPECT_EQ(photos.recompressed, 6);
    EXPECT_EQ(photos.kept, 2);
    EXPECT_EQ(photos.none, 2);
    const QStringList before = pair->source("SELECT SUM(OCTET_LENGTH(BEM_IMAGEM)) FROM PAT_BEM");
    EXPECT_EQ(photos.bytesBefore, before.value(0).toLongLong());
    const QStringList after = pair->target("SELECT SUM(OCTET_LENGTH(BEM_IMAGEM)) FROM PAT_BEM");
    EXPECT_EQ(photos.bytesAfter, after.value(0).toLongLong());
    EXPECT_LT(photos.bytesAfter, photos.bytesBefore);
}

TEST_F(AssetStep, QualityReadAtTheStartHoldsAndAnEmptyBoxKeepsThePhotosAsStored) {
    struct Case {
        const char* atStart;
        const char* typedAfterFirstPhoto;  // changes nothing in the step under way
        bool recompressed;
    } cases[] = {{"60", "", true}, {"", "60", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.atStart);
        // Generated: asset 4's photo is named FOTO004, without extension.
        auto pair = makePair(5, true);
        pair->host.quality = QString::fromLatin1(c.atStart);
        int photosSeen = 0;
        pair->host.onPump = [&] {
            if (pair->host.events.last() != "pump" ||
                pair->host.events.value(pair->host.events.size() - 2) !=
                    "status:Aguardando motor de processamento de imagens.")
                return;
            if (++photosSeen == 2) pair->host.quality = QString::fromLatin1(c.typedAfterFirstPhoto);
        };

        pair->run.SetImport_Bens();

        EXPECT_EQ(photosSeen, 5);
        QStringList expectedLog;
        for (int code = 1; code <= 5; ++code) {
            if (!c.recompressed) {
                expectedLog << QStringLiteral(
                                   "Bem %1: foto importada como estava, sem "
                                   "recompactar: a qualidade \"\" não é um número "
                                   "inteiro.")
                                   .arg(code);
            } else if (code == 4) {
                expectedLog << "Bem 4: foto importada como estava, sem recompactar: o nome da "
                               "foto \"FOTO004\" não tem extensão.";
            }
        }
        EXPECT_EQ(pair->host.eventsWith("log:"), expectedLog);
        for (int code = 1; code <= 5; ++code) {
            const std::optional<QByteArray> stored = photoIn(pair->data.Con_Novo, code);
            const std::optional<QByteArray> arrived = photoIn(pair->data.Con_Velho, code);
            ASSERT_TRUE(stored && arrived) << code;
            EXPECT_EQ(*arrived == *stored, !c.recompressed || code == 4) << code;
            const QString name =
                code == 4 ? QStringLiteral("FOTO004") : QStringLiteral("bem_%1.jpg").arg(code);
            EXPECT_EQ(fileBytes(beforeFile(QString::number(code), name)), stored) << code;
        }
    }
}

TEST_F(AssetStep, PhotoThatCannotBeWrittenToItsFolderIsKeptAsStored) {
    auto pair = makePair(3, true);
    setSourcePhoto(*pair, 1, *photoIn(pair->data.Con_Novo, 2), QStringLiteral("../fora.jpg"));
    // The after folder is a file: no after file can be written.
    ASSERT_TRUE(QDir().mkpath(exeDir));
    {
        QFile blocker(exeDir + "/Imagens_Depois");
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }

    pair->run.SetImport_Bens();

    const QStringList logged = pair->host.eventsWith("log:");
    ASSERT_EQ(logged.size(), 3) << logged.join('\n').toStdString();
    EXPECT_EQ(logged[0],
              "Bem 1: foto importada como estava, sem recompactar: o nome da foto \"../fora.jpg\" "
              "contém um separador de pasta.");
    EXPECT_TRUE(logged[1].startsWith(
        "Bem 2: foto importada como estava, sem recompactar: a recompactação falhou ("));
    EXPECT_FALSE(QFileInfo::exists(exeDir + "/Imagens_Antes/fora.jpg"));
    EXPECT_FALSE(QFileInfo::exists(exeDir + "/fora.jpg"));
    for (int code = 1; code <= 3; ++code) {
        EXPECT_EQ(photoIn(pair->data.Con_Velho, code), photoIn(pair->data.Con_Novo, code)) << code;
    }
}

TEST_F(AssetStep, ABeforeFolderOnAFullDiskCarriesEveryPhotoAsStored) {
    // Generated: asset 3 has a JPEG named bem_3.jpg.
    auto pair = makePair(3, true);
    FullFolder disk(exeDir + "/Imagens_Antes");
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot().toStdString();

    pair->run.SetImport_Bens();

    for (int code = 1; code <= 3; ++code) {
        const std::optional<QByteArray> stored = photoIn(pair->data.Con_Novo, code);
        ASSERT_TRUE(stored) << code;
        EXPECT_EQ(photoIn(pair->data.Con_Velho, code), stored) << code;
    }
    EXPECT_EQ(disk.entries(), QStringList()) << "no partial before file";
    EXPECT_FALSE(QFileInfo::exists(afterFile("3", "bem_3.jpg")));
    const QStringList logged = pair->host.eventsWith("log:");
    ASSERT_EQ(logged.size(), 3) << logged.join('\n').toStdString();
    EXPECT_TRUE(
        logged[2].startsWith("Bem 3: foto importada como estava, sem recompactar: o "
                             "arquivo da foto original não pôde ser gravado ("))
        << logged[2].toStdString();
    EXPECT_EQ(pair->run.report().photos.kept, 3);
    EXPECT_EQ(pair->run.report().photos.recompressed, 0);
}

TEST_F(AssetStep, TheReportCountsOnlyThePhotosOfAssetsThatReachedTheTarget) {
    // Generated: asset 4's photo is named FOTO004 (kept as stored); asset 2 is a JPEG. The
    // target refuses both assets.
    auto pair = makePair(
        5, true,
        "ALTER TABLE PAT_BEM ADD CONSTRAINT CK_RECUSA CHECK (BEM_CODIGO NOT IN (2, 4));\n");

    pair->run.SetImport_Bens();

    const PhotoTally& photos = pair->run.report().photos;
    EXPECT_EQ(photos.assets, 3);
    EXPECT_EQ(photos.recompressed, 3);
    EXPECT_EQ(photos.kept, 0);
    EXPECT_EQ(photos.none, 0);
    EXPECT_EQ(photos.bytesBefore,
              pair->source("SELECT SUM(OCTET_LENGTH(BEM_IMAGEM)) FROM PAT_BEM WHERE BEM_CODIGO "
                           "IN (1, 3, 5)")
                  .value(0)
                  .toLongLong());
    EXPECT_EQ(
        photos.bytesAfter,
        pair->target("SELECT SUM(OCTET_LENGTH(BEM_IMAGEM)) FROM PAT_BEM").value(0).toLongLong());
    // Only the refusals are said: no line about the photo of a refused asset.
    const QStringList logged = pair->host.eventsWith("log:");
    ASSERT_EQ(logged.size(), 2) << logged.join('\n').toStdString();
    EXPECT_TRUE(logged[0].startsWith("Registro recusado em PAT_BEM, chave 2: "));
    EXPECT_TRUE(logged[1].startsWith("Registro recusado em PAT_BEM, chave 4: "));
    EXPECT_TRUE(pair->run.report().lines().contains(
        "Fotos dos bens: 3 recompactadas, 0 mantidas sem recompactar, 0 bens sem foto; " +
        QString::number(photos.bytesBefore) + " bytes antes, " +
        QString::number(photos.bytesAfter) + " bytes depois"));
}

TEST_F(AssetStep, ARecompressedPhotoTheTargetCannotTakeIsKeptAsStored) {
    // The target keeps its photos in a column of limited size: a small photo fits as stored but
    // not enlarged to the box; a large one fits neither way.
    const QByteArray small = makeJpeg({16, 12});
    const QByteArray large = makeJpeg({1600, 1200});
    const std::optional<QByteArray> smallOut = recompressJpeg(60, small, "x.jpg");
    const std::optional<QByteArray> largeOut = recompressJpeg(60, large, "x.jpg");
    ASSERT_TRUE(smallOut && largeOut);
    const qsizetype limit = (small.size() + smallOut->size()) / 2;
    ASSERT_LT(small.size(), limit);
    ASSERT_GT(smallOut->size(), limit);
    ASSERT_GT(largeOut->size(), limit);
    ASSERT_GT(large.size(), limit);
    auto pair = makePair(3, true,
                         "ALTER TABLE PAT_BEM DROP BEM_IMAGEM;\n"
                         "ALTER TABLE PAT_BEM ADD BEM_IMAGEM VARCHAR(" +
                             QByteArray::number(limit) +
                             ") CHARACTER SET OCTETS;\n"
                             "ALTER TABLE PAT_BEM ALTER BEM_IMAGEM POSITION 17;\n");
    setSourcePhoto(*pair, 1, small, QStringLiteral("pequena.jpg"));
    setSourcePhoto(*pair, 2, large, QStringLiteral("grande.jpg"));
    setSourcePhoto(*pair, 3, small, QStringLiteral("FOTO3"));

    pair->run.SetImport_Bens();

    EXPECT_EQ(pair->targetCount("PAT_BEM"), 3);
    EXPECT_EQ(pair->target("SELECT BEM_IMAGEM FROM PAT_BEM WHERE BEM_CODIGO = 2"),
              QStringList{"<null>"});
    EXPECT_EQ(
        pair->target("SELECT OCTET_LENGTH(BEM_IMAGEM) FROM PAT_BEM ORDER BY BEM_CODIGO"),
        (QStringList{QString::number(small.size()), "<null>", QString::number(small.size())}));
    const QStringList logged = pair->host.eventsWith("log:");
    ASSERT_EQ(logged.size(), 3) << logged.join('\n').toStdString();
    EXPECT_TRUE(
        logged[0].startsWith("Bem 1: foto importada como estava, sem recompactar: o banco "
                             "a ser atualizado não aceitou a foto recompactada ("))
        << logged[0].toStdString();
    EXPECT_TRUE(
        logged[1].startsWith("Bem 2: a foto não foi importada: o banco a ser atualizado "
                             "não aceitou a foto recompactada ("))
        << logged[1].toStdString();
    EXPECT_EQ(logged[2],
              "Bem 3: foto importada como estava, sem recompactar: o nome da foto \"FOTO3\" não "
              "tem extensão.");
    const PhotoTally& photos = pair->run.report().photos;
    EXPECT_EQ(photos.recompressed, 0);
    EXPECT_EQ(photos.kept, 2);
    EXPECT_EQ(photos.lost, 1);
}

TEST_F(AssetStep, WorkersGiveByteForByteWhatOneAtATimeGives) {
    // Two pages mixing photos that recompress, photos that fail on a worker in the middle of a
    // page (a PNG, a JPEG cut short), an empty photo, null photos (every tenth asset) and a
    // name without extension (asset 4), all kept or carried exactly as one at a time does.
    const auto stepWith = [this](int workers) {
        auto pair = makePair(110, true);
        const QByteArray jpeg = *photoIn(pair->data.Con_Novo, 5);
        setSourcePhoto(*pair, 2, kPng, QStringLiteral("bem_2.jpg"));
        setSourcePhoto(*pair, 57, jpeg.left(jpeg.size() / 3), QStringLiteral("bem_57.jpg"));
        setSourcePhoto(*pair, 105, kPng, QStringLiteral("bem_105.jpg"));
        runIsql("UPDATE PAT_BEM SET BEM_IMAGEM = '' WHERE BEM_CODIGO = 3;\ncommit;\n",
                pair->sourcePath);
        ImportRun run(pair->data, pair->counters, pair->host, workers);
        run.SetImport_Bens();

        RunOutcome out = outcomeOf(pair->host);
        const PhotoTally& p = run.report().photos;
        out.figures = {p.assets, p.recompressed, p.kept,      p.lost,
                       p.none,   p.bytesBefore,  p.bytesAfter};
        // Code and photo of every target row.
        RecordSet rs(pair->data.Con_Velho);
        rs.setCommandText("SELECT BEM_CODIGO, BEM_IMAGEM FROM PAT_BEM ORDER BY BEM_CODIGO");
        rs.Open();
        for (; !rs.Eof(); rs.Next())
            out.rows << rs.Fields(0).AsString() + u' ' +
                            QString::fromLatin1(rs.Fields(1).AsVariant().bytes().toBase64());
        return out;
    };

    const RunOutcome alone = stepWith(0);
    EXPECT_EQ(alone.rows.size(), 110);
    EXPECT_TRUE(alone.log.contains("Bem 2: ")) << alone.log.toStdString();
    EXPECT_TRUE(alone.log.contains("Bem 105: ")) << alone.log.toStdString();
    EXPECT_GE(alone.figures.value(1), 70);  // recompressed
    for (const int workers : {1, 3}) {
        SCOPED_TRACE(workers);
        expectSameOutcome(stepWith(workers), alone);
    }
}

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

TEST_F(AssetStep, WorkersGiveWhatOneAtATimeGivesWhenAnOriginalFailsOrTheStepStops) {
    // Three pages of photos, read ahead by the workers and their originals saved ahead by the
    // saver; something happens in the middle of the first page, or of the second, or another
    // program deletes rows once the first page is read.
    struct Case {
        const char* label;
        std::function<void(RegisterPair&)> arrange;
        std::function<void(StoppableHost&)> host;
        bool stops;
        std::function<void(RegisterPair&, StoppableHost&)> during = {};
    } cases[] = {
        {"an original that cannot be saved in the middle of a page",
         [](RegisterPair& pair) {
             // 90 euro signs are 270 bytes in a file name: no file can have it.
             const QByteArray jpeg = *photoIn(pair.data.Con_Novo, 5);
             setSourcePhoto(pair, 30, jpeg, QString(90, QChar(0x20AC)) + QStringLiteral(".jpg"));
         },
         {},
         false},
        {"a stop asked in the middle of the second page",
         {},
         [](StoppableHost& h) {
             auto pumps = std::make_shared<int>(0);
             h.onPump = [&h, pumps] {
                 if (h.pauses == 2 && ++*pumps == 40) h.stop = true;
             };
         },
         true},
        {"a stop asked during the second page's pause",
         {},
         [](StoppableHost& h) {
             h.onPause = [](StoppableHost& host) {
                 if (host.pauses == 2) host.stop = true;
             };
         },
         true},
        // The step reads the rows of one moment: a row of the page at hand and one of the next
        // page, deleted during the first page's pause, still arrive with their photos as read.
        {"rows deleted from the source once the first page is read",
         {},
         {},
         false,
         [](RegisterPair& pair, StoppableHost& h) {
             h.onPause = [&pair](StoppableHost& host) {
                 if (host.pauses != 1) return;
                 runIsql("DELETE FROM PAT_BEM WHERE BEM_CODIGO IN (51, 151);\ncommit;\n",
                         pair.sourcePath);
             };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const auto stepWith = [&](int workers) {
            auto pair = makePair(230, true);
            if (c.arrange) c.arrange(*pair);
            StoppableHost host;
            if (c.host) c.host(host);
            if (c.during) c.during(*pair, host);
            ImportRun run(pair->data, pair->counters, host, workers);
            bool stopped = false;
            try {
                run.SetImport_Bens();
            } catch (const RunStopped&) {
                stopped = true;
            }
            RunOutcome out = outcomeOf(host);
            const PhotoTally& p = run.report().photos;
            out.figures = {p.assets, p.recompressed, p.kept, p.lost, p.bytesBefore, stopped};
            // The folder of each run has its own name; the temporary files their random part.
            static const QRegularExpression temporary(QStringLiteral("importador-\\w+\\.tmp"));
            const auto plain = [&](QString& text) {
                text.replace(exeDir, QStringLiteral("<exe>"));
                text.replace(temporary, QStringLiteral("importador-XXXXXX.tmp"));
            };
            plain(out.log);
            for (QString& event : out.events) plain(event);
            RecordSet rs(pair->data.Con_Velho);
            rs.setCommandText("SELECT BEM_CODIGO, BEM_IMAGEM FROM PAT_BEM ORDER BY BEM_CODIGO");
            rs.Open();
            for (; !rs.Eof(); rs.Next())
                out.rows << rs.Fields(0).AsString() + u' ' +
                                QString::fromLatin1(rs.Fields(1).AsVariant().bytes().toBase64());
            return out;
        };
        const RunOutcome alone = stepWith(0);
        EXPECT_EQ(alone.figures.value(5), c.stops ? 1 : 0);
        if (c.stops) {
            // Stopped after the second page's write-back: nothing of the third.
            EXPECT_EQ(alone.rows.size(), 200);
            EXPECT_EQ(alone.before.size(), 200);
        } else if (c.during) {
            EXPECT_EQ(alone.rows.size(), 230);
            for (const char* deleted : {"51 ", "151 "}) {
                const auto row =
                    std::find_if(alone.rows.begin(), alone.rows.end(),
                                 [&](const QString& r) { return r.startsWith(deleted); });
                ASSERT_NE(row, alone.rows.end()) << deleted;
                EXPECT_GT(row->size(), 100) << deleted;  // its photo came along
            }
        } else {
            EXPECT_TRUE(alone.log.contains(QStringLiteral("Bem 30: foto importada como estava")))
                << alone.log.toStdString();
        }
        expectSameOutcome(stepWith(2), alone);
    }
}

}  // namespace
}  // namespace patrimonio::test
