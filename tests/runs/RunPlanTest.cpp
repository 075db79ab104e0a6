// What a run counts at its start, held against what the run then does on the same real
// databases: the rows each step reads, the photos and their bytes, the pauses; and the
// counting's own cost in pages the server fetches, against the pages the photos fill.

#include <gtest/gtest.h>

#include <QDir>
#include <random>

#include "JpegFixtures.h"
#include "QStringPrinter.h"
#include "RegisterPair.h"
#include "core/AppPaths.h"
#include "core/Errors.h"
#include "db/RecordSet.h"
#include "db/TableNames.h"
#include "runs/PhotoBatches.h"
#include "runs/PhotoPass.h"
#include "runs/RunPlan.h"

namespace patrimonio {
namespace {

using test::RecordingHost;

class RunPlanTest : public ::testing::Test {
protected:
    void SetUp() override {
        setExecutableDirForTesting(tmp.path(QStringLiteral("exe")));
        QDir().mkpath(tmp.path(QStringLiteral("exe")));
    }
    void TearDown() override { setExecutableDirForTesting({}); }

    test::TempFolder tmp;
};

const TableTally* tallyOf(const ImportReport& report, const QString& table) {
    for (const TableTally& t : report.tables()) {
        if (t.table == table) return &t;
    }
    return nullptr;
}

TEST_F(RunPlanTest, AnImportDoesWhatItsCountsSaid) {
    test::RegisterPair pair;
    // Exactly two pages of assets, so that the step also reads a last, empty page.
    pair.generate({{"PAT_BEM", 200}, {"PAT_DEPRECIACAO", 730}}, true, true);
    // The generator leaves every tenth asset without a photo; one photo of no bytes is no
    // photo either.
    pair.data.Con_Novo.ExecuteDirect(
        QStringLiteral("UPDATE PAT_BEM SET BEM_IMAGEM = '' WHERE BEM_CODIGO = 5"));

    const ImportPlan plan = planImport(pair.data.Con_Novo);
    ASSERT_EQ(pair.run.run(), ImportEnd::Completed);
    const ImportReport& report = pair.run.report();

    ASSERT_EQ(plan.tables.size(), 9u);
    std::int64_t read = 0;
    for (const TableRows& t : plan.tables) {
        const TableTally* tally = tallyOf(report, t.table);
        ASSERT_NE(tally, nullptr) << t.table.toStdString();
        EXPECT_EQ(t.rows, tally->read) << t.table.toStdString();
        read += tally->read;
    }
    EXPECT_EQ(plan.rowsOf(tables::PAT_BEM), 200);
    EXPECT_EQ(plan.rowsOf(tables::PAT_DEPRECIACAO), 730);
    EXPECT_EQ(plan.rows(), read);

    const PhotoTally& photos = report.photos;
    EXPECT_EQ(plan.photos, 200 - 20 - 1);
    EXPECT_EQ(plan.photos, photos.recompressed + photos.kept + photos.lost);
    EXPECT_EQ(plan.photoBytes, photos.bytesBefore);

    const RunWork work = plan.work();
    EXPECT_EQ(work.rows, read);
    EXPECT_EQ(work.photoBytes, photos.bytesBefore);
    EXPECT_EQ(work.pauses, pair.host.pauses);
}

// A database of photo rows only, as the photo-only pass sees it.
const QByteArray kAssets =
    "CREATE TABLE PAT_BEM (\n"
    "  BEM_CODIGO INTEGER NOT NULL PRIMARY KEY,\n"
    "  BEM_DESCRICAO VARCHAR(60),\n"
    "  BEM_IMAGEM BLOB SUB_TYPE 0,\n"
    "  BEM_IMAGEM_NOME VARCHAR(100));\n";

// Rows 1..count: photo bytes from `photoOf(code)`, none when it gives a null QByteArray.
void fillAssets(Connection& con, int count, const std::function<QByteArray(int)>& photoOf) {
    RecordSet rs(con);
    rs.setCommandText(QStringLiteral("SELECT * FROM PAT_BEM WHERE 1=0"));
    rs.Open();
    for (int code = 1; code <= count; ++code) {
        rs.Append();
        rs.FieldByName(QStringLiteral("BEM_CODIGO")).setAsVariant(Value::integer(code));
        rs.FieldByName(QStringLiteral("BEM_DESCRICAO"))
            .setAsString(QStringLiteral("Bem %1").arg(code));
        const QByteArray photo = photoOf(code);
        rs.FieldByName(QStringLiteral("BEM_IMAGEM"))
            .setAsVariant(photo.isNull() ? Value::null() : Value::binary(photo));
        rs.FieldByName(QStringLiteral("BEM_IMAGEM_NOME"))
            .setAsString(QStringLiteral("foto%1.jpg").arg(code));
        rs.Post();
        if (code % 25 == 0) {
            ASSERT_EQ(rs.ApplyUpdates(0), 0);
        }
    }
    ASSERT_EQ(rs.ApplyUpdates(0), 0);
}

// The rows a pass walks and their photos, read the hard way: the pass's own query, every
// photo fetched.
PhotoPassPlan walked(Connection& con, const QString& skipList) {
    RecordSet rs(con);
    rs.setCommandText(passQuery(skipList));
    rs.Open();
    PhotoPassPlan seen;
    for (rs.First(); !rs.Eof(); rs.Next()) {
        ++seen.rows;
        const Value photo = rs.FieldByName(QStringLiteral("BEM_IMAGEM")).AsVariant();
        if (!photo.isNull() && !photo.bytes().isEmpty()) {
            ++seen.photos;
            seen.photoBytes += photo.bytes().size();
        }
    }
    return seen;
}

TEST_F(RunPlanTest, APhotoPassCountsTheRowsItsQueryWalks) {
    const QString path = test::createDatabase(tmp.path(QStringLiteral("fotos.fdb")), kAssets);
    Connection con(QStringLiteral("Con_Novo"));
    con.Params = Connection::editParams(path);  // the bare path, as in photo-only mode
    test::JpegShape shape;
    fillAssets(con, 130, [&](int code) {
        if (code % 9 == 0) return QByteArray();     // no photo
        if (code % 13 == 0) return QByteArray("");  // a photo of no bytes
        shape.width = 80 + code;
        shape.height = 60 + code % 17;
        return test::makeJpeg(shape);
    });

    struct Case {
        const char* skipList;
        std::int64_t rows;
    };
    const Case cases[] = {{"", 130}, {"   ", 130}, {"9,30,105,1010", 127}, {" 9, 13 ,2 ", 127}};
    for (const Case& c : cases) {
        const QString skipList = QString::fromLatin1(c.skipList);
        SCOPED_TRACE("codes to skip \"" + skipList.toStdString() + "\"");
        const PhotoPassPlan plan = planPhotoPass(con, skipList);
        const PhotoPassPlan seen = walked(con, skipList);
        EXPECT_EQ(plan.rows, c.rows);
        EXPECT_EQ(plan.rows, seen.rows);
        EXPECT_EQ(plan.photos, seen.photos);
        EXPECT_EQ(plan.photoBytes, seen.photoBytes);
    }

    // The pass itself: every counted photo written, and one pause per batch of its rows.
    const PhotoPassPlan plan = planPhotoPass(con, QStringLiteral("9,30,105,1010"));
    con.Close();
    DataModule data;
    data.Con_Novo.Params = Connection::editParams(path);
    data.Con_Novo.Open();
    RunCounters counters;
    RecordingHost host;
    host.skipList = QStringLiteral("9,30,105,1010");
    PhotoPass pass(data, counters, host);
    ASSERT_EQ(pass.run(), PhotoPassEnd::Finished);
    EXPECT_EQ(pass.processed() + pass.failed(), plan.photos);
    EXPECT_EQ(pass.failed(), 0);
    EXPECT_EQ(plan.work().pauses, host.pauses);
    EXPECT_EQ(plan.work().rows, plan.rows);
}

TEST_F(RunPlanTest, CodesToSkipThatAreNoListReachNoDatabase) {
    Connection none(QStringLiteral("Con_Novo"));  // never connected: nothing may be sent
    EXPECT_THROW(planPhotoPass(none, QStringLiteral("1); DELETE FROM PAT_BEM; --")), AppError);
    EXPECT_FALSE(none.Connected());
}

// The server's page counters of this attachment: pages fetched from its cache, and pages it
// had to read into the cache.
struct PageIo {
    std::int64_t fetches = 0;
    std::int64_t reads = 0;
};

PageIo pageIo(Connection& con) {
    RecordSet rs(con);
    rs.setCommandText(
        QStringLiteral("SELECT I.MON$PAGE_FETCHES, I.MON$PAGE_READS FROM MON$ATTACHMENTS A "
                       "JOIN MON$IO_STATS I ON I.MON$STAT_ID = A.MON$STAT_ID "
                       "WHERE A.MON$ATTACHMENT_ID = CURRENT_CONNECTION"));
    rs.Open();
    return {rs.Fields(0).AsVariant().integer(), rs.Fields(1).AsVariant().integer()};
}

// The pages fetched by `what`, less what reading the counters costs.
template <class F>
std::int64_t fetchesOf(Connection& con, F&& what) {
    const PageIo a = pageIo(con);
    const PageIo b = pageIo(con);
    what();
    const PageIo c = pageIo(con);
    return (c.fetches - b.fetches) - (b.fetches - a.fetches);
}

TEST_F(RunPlanTest, CountingReadsNoPhoto) {
    // Twelve photos of 600 KB: about 900 pages of photos against a handful of row pages.
    const QString path = test::createDatabase(tmp.path(QStringLiteral("grandes.fdb")), kAssets);
    Connection con(QStringLiteral("Con_Novo"));
    con.Params = Connection::editParams(test::kServerPrefix + path);
    std::mt19937 random(7);
    fillAssets(con, 12, [&](int) {
        QByteArray bytes(600'000, Qt::Uninitialized);
        for (char& b : bytes) b = static_cast<char>(random());
        return bytes;
    });
    const std::int64_t photoPages = 12 * 600'000 / 8192;

    PhotoPassPlan plan;
    const std::int64_t counting = fetchesOf(con, [&] { plan = planPhotoPass(con, {}); });
    EXPECT_EQ(plan.photoBytes, 12 * 600'000);
    // Reading every byte, to show the counters see the photos' pages when they are read.
    const std::int64_t reading = fetchesOf(con, [&] {
        RecordSet rs(con);
        rs.setCommandText(QStringLiteral("SELECT MAX(HASH(BEM_IMAGEM)) FROM PAT_BEM"));
        rs.Open();
    });
    EXPECT_GE(reading, photoPages);
    EXPECT_LT(counting, photoPages / 10) << "reading every photo fetched " << reading;
}

}  // namespace
}  // namespace patrimonio
