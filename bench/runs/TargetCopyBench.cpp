// What the copy of the target before the purge costs a whole import, run by hand with the
// private server up:
//   targetcopy_bench [assets=10000] [extra depreciation rows=200000]
// The register is the grown one (the demo register with `extra` more depreciation rows and
// `assets` assets with photos); the target first receives it once, so that it holds the assets
// with their recompressed photos, as a target does after last year's import. Then:
// 1. A whole import into that target, and within it the copy (from its status text to the
//    purge's first): the goal is a copy of at most a tenth of the import.
// 2. References on the same target file: a plain copy of the file (read, written, synced), the
//    server's backup into a file of its own (the same format, not streamed), nbackup's copy of
//    the pages (a server-side file too), and the gbak program run on this machine (it reads
//    the records through the server and writes the file here), with their sizes.

#include <firebird/Interface.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cstdio>
#include <optional>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "BareClient.h"
#include "BenchDatabases.h"
#include "BenchMain.h"
#include "BenchSupport.h"
#include "QuietHost.h"
#include "TestDatabase.h"
#include "core/AppPaths.h"
#include "core/RunCounters.h"
#include "db/DataModule.h"
#include "db/DatabaseBackup.h"
#include "db/DatabaseRestore.h"
#include "runs/ImportRun.h"

using namespace patrimonio;
using namespace patrimonio::bench;

namespace {

struct Import {
    double seconds = 0;
    double copySeconds = 0;
    qint64 copyBytes = 0;
    bool completed = false;
    std::optional<WayBack> back;
};

Import importOnce(const DatabasePair& p) {
    DataModule data;
    RunCounters counters;
    QuietHost host(QuietHost::LogLines::Dropped);
    QElapsedTimer clock;
    clock.start();
    openPair(data, p);
    ImportRun run(data, counters, host);
    Import result;
    result.completed = run.run() == ImportEnd::Completed;
    result.seconds = clock.nsecsElapsed() / 1e9;
    // The report's own figure: from the copy's start to the file checked.
    result.copySeconds = run.report().copyMs / 1000.0;
    if (run.targetCopy()) result.copyBytes = run.targetCopy()->bytes;
    result.back = run.wayBack();
    return result;
}

// A plain copy of a file: read, written and synced, in 1 MB pieces.
double plainCopy(const QString& from, const QString& to) {
    QElapsedTimer t;
    t.start();
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) return -1;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const qint64 n = in.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (n <= 0) break;
        if (out.write(buffer.data(), n) != n) return -1;
    }
    out.flush();
#ifndef _WIN32
    ::fsync(out.handle());
#endif
    out.close();
    return t.nsecsElapsed() / 1e9;
}

// A service action that writes a file on the server's side, waited for until it ends.
double serverSideService(const QString& database, const QString& file, bool nbackup) {
    using namespace Firebird;
    BareClient client;
    IMaster* master = client.master();
    ThrowStatusWrapper& st = client.st();
    QElapsedTimer t;
    t.start();
    try {
        IXpbBuilder* attach =
            master->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::SPB_ATTACH, nullptr, 0);
        attach->insertString(&st, isc_spb_user_name, "SYSDBA");
        attach->insertString(&st, isc_spb_password, test::kPassword.toUtf8().constData());
        IProvider* provider = master->getDispatcher();
        IService* service =
            provider->attachServiceManager(&st, "127.0.0.1/3052:service_mgr",
                                           attach->getBufferLength(&st), attach->getBuffer(&st));
        attach->dispose();
        provider->release();
        IXpbBuilder* start =
            master->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::SPB_START, nullptr, 0);
        const QByteArray db = database.toUtf8(), out = file.toUtf8();
        if (nbackup) {
            start->insertTag(&st, isc_action_svc_nbak);
            start->insertString(&st, isc_spb_dbname, db.constData());
            start->insertString(&st, isc_spb_nbk_file, out.constData());
            start->insertInt(&st, isc_spb_nbk_level, 0);
        } else {
            start->insertTag(&st, isc_action_svc_backup);
            start->insertString(&st, isc_spb_dbname, db.constData());
            start->insertString(&st, isc_spb_bkp_file, out.constData());
            start->insertInt(&st, isc_spb_options, isc_spb_bkp_no_garbage_collect);
        }
        service->start(&st, start->getBufferLength(&st), start->getBuffer(&st));
        start->dispose();
        const unsigned char receive[] = {isc_info_svc_line};
        std::vector<unsigned char> answer(16384);
        for (;;) {
            service->query(&st, 0, nullptr, sizeof receive, receive,
                           static_cast<unsigned>(answer.size()), answer.data());
            // An empty line and nothing pending: the action is over.
            if (answer[0] == isc_info_svc_line && answer[1] == 0 && answer[2] == 0) break;
        }
        service->detach(&st);
    } catch (const FbException& e) {
        char text[1024];
        master->getUtilInterface()->formatStatus(text, sizeof text, e.getStatus());
        std::fprintf(stderr, "service: %s\n", text);
        return -1;
    }
    return t.nsecsElapsed() / 1e9;
}

// The gbak program on this machine backing up through the server into a file here.
double clientGbak(const QString& database, const QString& file) {
    QElapsedTimer t;
    t.start();
    QProcess gbak;
    gbak.setProcessChannelMode(QProcess::MergedChannels);
    gbak.start(QStringLiteral("gbak"),
               {QStringLiteral("-b"), QStringLiteral("-g"), QStringLiteral("-user"),
                QStringLiteral("SYSDBA"), QStringLiteral("-password"), test::kPassword,
                test::kServerPrefix + database, file});
    if (!gbak.waitForFinished(-1) || gbak.exitCode() != 0) return -1;
    return t.nsecsElapsed() / 1e9;
}

double megabytes(qint64 bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "targetcopy_bench", [](const Args& args, Workspace& work) {
        const int assets = args.number(1, 10000);
        const int extra = args.number(2, 200000);
        const DatabasePair p =
            makeDatabasePair(work.path(), QStringLiteral("grande"), SourceView::With);
        std::printf("making the register: %d assets with photos, %d more depreciations...\n",
                    assets, extra);
        generateRegister({QStringLiteral("--source"), p.source, QStringLiteral("--rows"),
                          QStringLiteral("PAT_BEM=%1").arg(assets), QStringLiteral("--rows"),
                          QStringLiteral("PAT_DEPRECIACAO=%1").arg(240 + extra)});
        generateRegister({QStringLiteral("--target"), p.target});
        std::printf("filling the target with a first import...\n");
        const Import first = importOnce(p);
        if (!first.completed) throw std::runtime_error("the first import did not complete");
        std::printf("   first import %.1f s (its copy of the empty target %.2f s)\n", first.seconds,
                    first.copySeconds);
        QDir(databaseCopiesFolder()).removeRecursively();
        const qint64 targetBytes = QFileInfo(p.target).size();

        // 1. The import under measure.
        const Import timed = importOnce(p);
        if (!timed.completed) throw std::runtime_error("the import did not complete");
        const double share = timed.copySeconds / timed.seconds;
        std::printf("\n1. whole import into a target of %.0f MB: %.1f s\n", megabytes(targetBytes),
                    timed.seconds);
        std::printf(
            "   of which the copy (%.0f MB, as the program makes it): %.1f s"
            " = %.1f %% (goal 10 %% at most): %s\n",
            megabytes(timed.copyBytes), timed.copySeconds, share * 100,
            share <= 0.10 ? "ok" : "OVER");

        // 2. References on the same file.
        const double plain = plainCopy(p.target, work.path(QStringLiteral("simples.fdb")));
        const double streamed = [&] {
            QElapsedTimer t;
            t.start();
            backupDatabase(test::kServerPrefix + p.target, QStringLiteral("SYSDBA"),
                           test::kPassword, work.path(QStringLiteral("fluxo.fbk")), {},
                           BackupRoute::Streamed);
            return t.nsecsElapsed() / 1e9;
        }();
        const QString serverFbk = work.path(QStringLiteral("servidor.fbk"));
        const QString serverNbk = work.path(QStringLiteral("servidor.nbk"));
        const double gbakServer = serverSideService(p.target, serverFbk, false);
        const double nbak = serverSideService(p.target, serverNbk, true);
        const QString clientFbk = work.path(QStringLiteral("cliente.fbk"));
        const double client = clientGbak(p.target, clientFbk);
        std::printf("\n2. references, on the same target file (%.0f MB):\n",
                    megabytes(targetBytes));
        std::printf("   plain copy of the file, synced              %6.1f s  %6.0f MB\n", plain,
                    megabytes(targetBytes));
        std::printf("   backup streamed to this program (the copy)   %6.1f s  %6.0f MB\n", streamed,
                    megabytes(QFileInfo(work.path(QStringLiteral("fluxo.fbk"))).size()));
        std::printf("   backup into a file of the server's           %6.1f s  %6.0f MB\n",
                    gbakServer, megabytes(QFileInfo(serverFbk).size()));
        std::printf("   nbackup level 0 into a file of the server's  %6.1f s  %6.0f MB\n", nbak,
                    megabytes(QFileInfo(serverNbk).size()));
        std::printf("   gbak run here, reading through the server    %6.1f s  %6.0f MB\n", client,
                    megabytes(QFileInfo(clientFbk).size()));

        // 3. The way back: the copy the timed import made, restored over the target by each
        // route, beside the import's own time.
        std::printf(
            "\n3. the way back: the copy (%.0f MB) restored over the target, against the "
            "import's %.1f s\n",
            megabytes(timed.copyBytes), timed.seconds);
        const struct {
            const char* label;
            RestoreRoute route;
            RestoreTransport transport;
        } ways[] = {
            {"new file renamed, read by the server", RestoreRoute::NewFileRenamed,
             RestoreTransport::ByPath},
            {"new file renamed, streamed", RestoreRoute::NewFileRenamed,
             RestoreTransport::Streamed},
            {"server's replace after a proof, streamed", RestoreRoute::ServerReplace,
             RestoreTransport::Streamed},
        };
        for (const auto& w : ways) {
            QElapsedTimer t;
            t.start();
            const Restore done = restoreDatabase(
                test::kServerPrefix + p.target, QStringLiteral("SYSDBA"), test::kPassword,
                timed.back->copy, timed.back->rows, {w.route, w.transport});
            std::printf("   %-42s %6.1f s  (%.1f x the import)  %s\n", w.label,
                        t.nsecsElapsed() / 1e9, t.nsecsElapsed() / 1e9 / timed.seconds,
                        done.differences.isEmpty() ? "rows checked" : "ROWS DIFFER");
        }
        return share <= 0.10 ? 0 : 2;
    });
}
