// What counting a run at its start costs, run by hand with the private server up:
//   runplan_bench [extra depreciation rows=200000] [large photos=200] [photo KB=1500]
// 1. The grown register (the demo register with `extra` more depreciation rows, as
//    window_bench grows it): counting an import (planImport) on the open source connection,
//    the first time and the best of three, against a whole import of that register with the
//    pauses at zero (best of three); and against the same import with its one-second pauses,
//    as the operator waits them. Goal: the first counting at most 2 % of the import. And the
//    pages of the source the server reads for the import alone and for the count followed by
//    the import: the count reads the pages the steps read next, which stay in the cache.
// 2. Whether counting reads the photos: on a table of `large photos` photos of `photo KB`
//    each, the time and the pages the server fetches and reads for COUNT(*), for counting a
//    photo-only pass (planPhotoPass: the rows, and SUM(OCTET_LENGTH) for the photos), and for
//    reading every byte of the photos (MAX(HASH(BEM_IMAGEM))), each on an attachment of its
//    own that starts with nothing in the server's cache.

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <random>

#include "BenchDatabases.h"
#include "BenchMain.h"
#include "QuietHost.h"
#include "TestDatabase.h"
#include "core/RunCounters.h"
#include "db/DataModule.h"
#include "runs/ImportRun.h"
#include "runs/RunPlan.h"

using namespace patrimonio;
using namespace patrimonio::bench;

namespace {

double msSince(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

struct PageIo {
    std::int64_t fetches = 0;
    std::int64_t reads = 0;
};
PageIo pageIo(Connection& con);

struct Import {
    double ms = 0;
    std::int64_t sourceReads = 0;  // pages read into the server's cache for the source
};

// A whole import on connections of its own (the server's cache of the source empty at its
// start, as when the operator has just picked it), counted first on its source connection
// when `countFirst`.
Import importRun(const DatabasePair& p, bool countFirst) {
    DataModule data;
    openPair(data, p);
    RunCounters counters;
    QuietHost host(QuietHost::LogLines::Dropped);
    ImportRun run(data, counters, host);
    const PageIo before = pageIo(data.Con_Novo);
    QElapsedTimer t;
    t.start();
    if (countFirst) planImport(data.Con_Novo);
    if (run.run() != ImportEnd::Completed) throw std::runtime_error("the import did not complete");
    const double ms = msSince(t);
    return {ms, pageIo(data.Con_Novo).reads - before.reads};
}

PageIo pageIo(Connection& con) {
    RecordSet rs(con);
    rs.setCommandText(
        QStringLiteral("SELECT I.MON$PAGE_FETCHES, I.MON$PAGE_READS FROM MON$ATTACHMENTS A "
                       "JOIN MON$IO_STATS I ON I.MON$STAT_ID = A.MON$STAT_ID "
                       "WHERE A.MON$ATTACHMENT_ID = CURRENT_CONNECTION"));
    rs.Open();
    return {rs.Fields(0).AsVariant().integer(), rs.Fields(1).AsVariant().integer()};
}

// Runs `what` on a new attachment to the database (the only one, so the server's cache starts
// empty) and prints its time and the pages fetched and read, less what reading the counters
// costs.
template <class F>
void measurePages(const char* label, const QString& path, F&& what) {
    Connection con(QStringLiteral("Con_Bench"));
    con.Params = Connection::editParams(test::kServerPrefix + path);
    con.Open();
    const PageIo a = pageIo(con);
    const PageIo b = pageIo(con);
    QElapsedTimer t;
    t.start();
    const QString result = what(con);
    const double ms = msSince(t);
    const PageIo c = pageIo(con);
    std::printf("   %-34s %9.1f ms  %8lld pages fetched  %8lld read   (%s)\n", label, ms,
                static_cast<long long>((c.fetches - b.fetches) - (b.fetches - a.fetches)),
                static_cast<long long>((c.reads - b.reads) - (b.reads - a.reads)),
                qPrintable(result));
}

QString scalars(Connection& con, const QString& sql) {
    RecordSet rs(con);
    rs.setCommandText(sql);
    rs.Open();
    QStringList values;
    for (int i = 0; i < rs.fieldCount(); ++i) values << rs.Fields(i).AsString();
    return values.join(QStringLiteral(", "));
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "runplan_bench", [](const Args& args, Workspace& work) {
        const int extra = args.number(1, 200000);
        const int largePhotos = args.number(2, 200);
        const int photoKb = args.number(3, 1500);
        // 1. The grown register.
        const DatabasePair grown =
            makeGrownPair(work.path(), QStringLiteral("grande"), 240 + extra);
        Connection source(QStringLiteral("Con_Novo"));
        source.Params = Connection::editParams(test::kServerPrefix + grown.source);
        source.Open();
        double firstMs = 0, bestMs = 1e18;
        ImportPlan plan;
        for (int round = 0; round < 3; ++round) {
            QElapsedTimer t;
            t.start();
            plan = planImport(source);
            const double ms = msSince(t);
            if (round == 0) firstMs = ms;
            bestMs = std::min(bestMs, ms);
        }
        source.Close();
        double runMs = 1e18;
        std::int64_t readsAlone = 0;
        for (int round = 0; round < 3; ++round) {
            const Import alone = importRun(grown, false);
            runMs = std::min(runMs, alone.ms);
            readsAlone = alone.sourceReads;
        }
        const std::int64_t readsCounted = importRun(grown, true).sourceReads;
        const RunWork planned = plan.work();
        const double pausedRunMs = runMs + static_cast<double>(planned.pauses) * 1000.0;
        std::printf(
            "1. grown register: %lld rows in the nine tables, %lld photos (%.1f MB), "
            "%lld pauses\n",
            static_cast<long long>(plan.rows()), static_cast<long long>(plan.photos),
            static_cast<double>(plan.photoBytes) / 1e6, static_cast<long long>(planned.pauses));
        std::printf("   counting: first %.1f ms, best of three %.1f ms\n", firstMs, bestMs);
        std::printf(
            "   whole import, pauses at zero (best of three): %.2f s; with its pauses: "
            "%.1f s\n",
            runMs / 1000, pausedRunMs / 1000);
        std::printf(
            "   pages of the source read into the server's cache: by the import alone %lld, "
            "by the count and the import %lld\n",
            static_cast<long long>(readsAlone), static_cast<long long>(readsCounted));
        // The first count reads pages into the server's cache that the steps would read
        // anyway; what it adds on top of the import is a count on pages already there.
        const double share = 100.0 * firstMs / runMs;
        std::printf(
            "   counting / import: first count %.2f %% (%.2f %% with the pauses), a count "
            "on cached pages %.2f %%; goal 2 %% at most: %s\n",
            share, 100.0 * firstMs / pausedRunMs, 100.0 * bestMs / runMs,
            share <= 2.0 ? "ok" : "SHORT");

        // 2. Large photos.
        const QString path = test::createDatabase(
            work.path(QStringLiteral("fotos.fdb")),
            "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY, "
            "BEM_DESCRICAO VARCHAR(60), BEM_IMAGEM BLOB SUB_TYPE 0, BEM_IMAGEM_NOME "
            "VARCHAR(100));");
        {
            Connection writer(QStringLiteral("Con_Novo"));
            writer.Params = Connection::editParams(test::kServerPrefix + path);
            RecordSet rs(writer);
            rs.setCommandText(QStringLiteral("SELECT * FROM PAT_BEM WHERE 1=0"));
            rs.Open();
            std::mt19937 random(11);
            for (int code = 1; code <= largePhotos; ++code) {
                // Random bytes: as many pages as a camera photo of that size.
                QByteArray photo(photoKb * 1000, Qt::Uninitialized);
                for (char& b : photo) b = static_cast<char>(random());
                rs.Append();
                rs.Fields(0).setAsVariant(Value::integer(code));
                rs.Fields(1).setAsString(QStringLiteral("Bem %1").arg(code));
                rs.Fields(2).setAsVariant(Value::binary(photo));
                rs.Fields(3).setAsString(QStringLiteral("foto%1.jpg").arg(code));
                rs.Post();
                if (code % 10 == 0 && rs.ApplyUpdates(0) != 0) throw std::runtime_error("refused");
            }
            if (rs.ApplyUpdates(0) != 0) throw std::runtime_error("refused");
        }
        const double mb = static_cast<double>(largePhotos) * photoKb / 1000.0;
        std::printf("2. %d photos of %d KB (%.0f MB, about %.0f pages of 8 KB):\n", largePhotos,
                    photoKb, mb, mb * 1e6 / 8192);
        measurePages("COUNT(*)", path, [](Connection& con) {
            return scalars(con, QStringLiteral("SELECT COUNT(*) FROM PAT_BEM"));
        });
        measurePages("counting a photo-only pass", path, [](Connection& con) {
            const PhotoPassPlan p = planPhotoPass(con, {});
            return QStringLiteral("%1 rows, %2 photos, %3 bytes")
                .arg(p.rows)
                .arg(p.photos)
                .arg(p.photoBytes);
        });
        measurePages("reading every byte (MAX(HASH()))", path, [](Connection& con) {
            return scalars(con, QStringLiteral("SELECT MAX(HASH(BEM_IMAGEM)) FROM PAT_BEM"));
        });
        return 0;
    });
}
