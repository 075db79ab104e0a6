// The photo-only pass over camera-sized photos, run by hand with the pauses set to zero:
//   photopass_bench [photos=1000] [width=4000] [height=3000]
// It prints the pass's cost per photo beside the two things it cannot avoid, one recompression
// and one write-back, and the resident memory along the pass (it must stay flat). Then the same
// pass on copies of the same database with its photos recompressed one at a time, on one
// worker thread, on two and on one per core: photos per second, peak memory, and whether the
// after files are byte for byte those of the one-at-a-time pass.
// Needs the private Firebird server for creating the database file (scripts/fb-server-start.sh).

#include <malloc.h>

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "BenchDatabases.h"
#include "BenchMain.h"
#include "BenchSupport.h"
#include "QuietHost.h"
#include "TestDatabase.h"
#include "core/AppPaths.h"
#include "core/RunCounters.h"
#include "db/DataModule.h"
#include "photos/JpegRecompressor.h"
#include "photos/RecompressionPool.h"
#include "runs/PhotoPass.h"

using namespace patrimonio;
using namespace patrimonio::bench;

namespace {

// A window that never waits; it notes the resident memory at the start of every batch and at
// every row, keeps the log and the closing message, and drops log lines.
class BenchHost : public QuietHost {
public:
    BenchHost() : QuietHost(LogLines::Dropped) {}
    std::vector<long> batchRss;  // at the start of every batch
    long peakRss = 0;            // at any row
    void setStatus(const QString& text) override {
        if (text == kPhotoPassLoading) batchRss.push_back(residentKiB());
    }
    void pumpMessages() override { peakRss = std::max(peakRss, residentKiB()); }
    void waitResponsive(const std::function<bool(int)>& finished) override {
        peakRss = std::max(peakRss, residentKiB());
        QuietHost::waitResponsive(finished);
    }
    void showMessage(const QString& text) override { summary = text; }
    QString logText() const override { return log_; }
    void setLogText(const QString& text) override { log_ = text; }
    QString summary;

private:
    QString log_;
};

// Wall time and the process's CPU time together: the machine may be shared, so CPU time is
// the fair comparison of work done, while wall time shows what waiting on the disk adds.
class Clock {
public:
    void start() {
        wall_.start();
        cpuStart_ = processCpuMs();
    }
    double wallMs() const { return static_cast<double>(wall_.nsecsElapsed()) / 1e6; }
    double cpuMsSince() const { return processCpuMs() - cpuStart_; }

private:
    QElapsedTimer wall_;
    double cpuStart_ = 0;
};

struct Cost {
    double wall = 0;
    double cpu = 0;
    void add(const Clock& c) {
        wall += c.wallMs();
        cpu += c.cpuMsSince();
    }
    Cost per(int n) const { return {wall / n, cpu / n}; }
};

void openOn(DataModule& data, const QString& path) {
    data.Con_Novo.Params = Connection::editParams(path);
    data.Con_Novo.Open();
}

// Reference: SetJPGCompression on each sample, several rounds.
Cost recompression(const QString& folder, const std::vector<QByteArray>& samples,
                   QByteArray* result) {
    std::vector<QString> inputs;
    for (size_t s = 0; s < samples.size(); ++s) {
        inputs.push_back(folder + QStringLiteral("/in%1.jpg").arg(s));
        QFile f(inputs.back());
        f.open(QIODevice::WriteOnly);
        f.write(samples[s]);
    }
    const int rounds = 10;
    Cost cost;
    Clock c;
    c.start();
    for (int r = 0; r < rounds; ++r) {
        for (const QString& in : inputs) {
            *result = *SetJPGCompression(60, in, folder + QStringLiteral("/out.jpg"));
        }
    }
    cost.add(c);
    return cost.per(rounds * static_cast<int>(inputs.size()));
}

// Reference: fetching the stored photo and saving it as the before file, then one write-back
// of one recompressed photo into its row, row by row over the first rows; the original photos
// are put back afterwards, so that the pass meets camera photos only.
void fetchAndWriteBack(const QString& dbPath, const QString& folder, int rows,
                       const QByteArray& recompressed, Cost* fetch, Cost* writeBack) {
    DataModule data;
    openOn(data, dbPath);
    RecordSet& cds = data.CdsAux;
    cds.setCommandText(QStringLiteral("SELECT FIRST %1 BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME "
                                      "FROM PAT_BEM ORDER BY BEM_CODIGO")
                           .arg(rows));
    cds.Open();
    std::vector<QByteArray> originals;
    Clock c;
    while (!cds.Eof()) {
        c.start();
        Field& image = cds.FieldByName(QStringLiteral("BEM_IMAGEM"));
        // A file of its own per photo, as the pass leaves one per asset in the before folder.
        if (image.BlobSize() > 0)
            image.SaveToFile(folder + QStringLiteral("/before%1.jpg").arg(originals.size()));
        fetch->add(c);
        originals.push_back(image.AsVariant().bytes());

        QByteArray bytes = recompressed;
        QBuffer stream(&bytes);
        stream.open(QIODevice::ReadOnly);
        c.start();
        cds.Edit();
        image.LoadFromStream(stream);
        cds.Post();
        cds.Next();
        cds.ApplyUpdates(0);
        writeBack->add(c);
    }
    *fetch = fetch->per(rows);
    *writeBack = writeBack->per(rows);

    cds.First();
    for (const QByteArray& original : originals) {
        cds.Edit();
        cds.FieldByName(QStringLiteral("BEM_IMAGEM")).setAsVariant(Value::binary(original));
        cds.Post();
        cds.Next();
    }
    cds.ApplyUpdates(0);
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "photopass_bench", [](const Args& args, Workspace& work) {
        const int photos = args.number(1, 1000);
        const int width = args.number(2, 4000);
        const int height = args.number(3, 3000);

        const QString refFolder = work.path(QStringLiteral("ref"));
        QDir().mkpath(refFolder);
        const QString dbPath = work.path(QStringLiteral("bench.fdb"));
        test::createDatabase(dbPath,
                             "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY,"
                             " BEM_DESCRICAO VARCHAR(60), BEM_IMAGEM BLOB SUB_TYPE 0,"
                             " BEM_IMAGEM_NOME VARCHAR(100));");

        // Four different photos, in turn.
        std::vector<QByteArray> samples;
        for (unsigned s = 0; s < 4; ++s) samples.push_back(cameraPhoto(width, height, s));
        std::printf("%d photos of %d x %d, about %lld KiB each as stored\n", photos, width, height,
                    static_cast<long long>(samples[0].size() / 1024));
        std::fflush(stdout);
        appendPhotoRows(dbPath, 1, photos, samples);
        // Every pass with workers starts from the photos as stored, on its own copy.
        const QString original = work.path(QStringLiteral("original.fdb"));
        QFile::copy(dbPath, original);

        QByteArray recompressed;
        // Measured before and after the pass, since a shared machine drifts; the mean counts.
        const Cost recompressBefore = recompression(refFolder, samples, &recompressed);
        Cost fetch;
        Cost writeBack;
        fetchAndWriteBack(dbPath, refFolder, std::min(photos, 50), recompressed, &fetch,
                          &writeBack);
        malloc_trim(0);

        // The pass itself.
        DataModule data;
        openOn(data, dbPath);
        RunCounters counters;
        BenchHost host;
        const long rssBefore = residentKiB();
        Clock c;
        c.start();
        PhotoPass pass(data, counters, host);
        pass.run();
        Cost passCost;
        passCost.add(c);
        const Cost perPhoto = passCost.per(photos);
        const Cost recompressAfter = recompression(refFolder, samples, &recompressed);
        const Cost recompress{(recompressBefore.wall + recompressAfter.wall) / 2,
                              (recompressBefore.cpu + recompressAfter.cpu) / 2};

        const Cost budget{1.15 * recompress.wall + writeBack.wall,
                          1.15 * recompress.cpu + writeBack.cpu};
        std::printf("\n%-50s %10s %10s\n", "ms per photo", "wall", "cpu");
        const auto line = [](const char* what, const Cost& k) {
            std::printf("%-50s %10.1f %10.1f\n", what, k.wall, k.cpu);
        };
        line("recompression alone, before the pass", recompressBefore);
        line("recompression alone, after the pass", recompressAfter);
        line("recompression alone (SetJPGCompression), mean", recompress);
        line("one write-back of a recompressed photo", writeBack);
        line("budget: 1.15 x recompression + write-back", budget);
        line("photo-only pass, pauses zero", perPhoto);
        line("  of which: fetch the photo, write the before file", fetch);
        std::printf("pass / budget: wall %.2f, cpu %.2f; %.1f s in all, %d processed, %d failed\n",
                    perPhoto.wall / budget.wall, perPhoto.cpu / budget.cpu, passCost.wall / 1000,
                    pass.processed(), pass.failed());

        std::printf(
            "\nresident memory (MiB): before the pass %.1f; at batch starts: first %.1f, "
            "second %.1f, last %.1f; peak at any row %.1f\n",
            rssBefore / 1024.0, host.batchRss.empty() ? 0 : host.batchRss.front() / 1024.0,
            host.batchRss.size() > 1 ? host.batchRss[1] / 1024.0 : 0,
            host.batchRss.empty() ? 0 : host.batchRss.back() / 1024.0, host.peakRss / 1024.0);
        if (pass.processed() != photos) return 1;

        // Workers: each pass on its own copy of the database as filled, into folders of its own.
        std::printf("\n%-28s %10s %10s %12s %14s %s\n", "photo-only pass", "photos/s", "speed-up",
                    "cpu ms/photo", "peak RSS MiB", "after files");
        std::vector<int> configs{0, 1, 2};
        if (RecompressionPool::coreCount() > 2) configs.push_back(RecompressionPool::coreCount());
        double aloneRate = 0;
        QStringList aloneFiles;
        QString aloneAfter;
        for (const int workers : configs) {
            const QString copy = work.path(QStringLiteral("bench-w%1.fdb").arg(workers));
            QFile::copy(original, copy);
            const QString exe = work.path(QStringLiteral("exe-w%1").arg(workers));
            QDir().mkpath(exe);
            setExecutableDirForTesting(exe);
            malloc_trim(0);
            BenchHost runHost;
            double wall = 0;
            double cpu = 0;
            int processed = 0;
            {
                DataModule module;
                openOn(module, copy);
                RunCounters runCounters;
                Clock clock;
                clock.start();
                PhotoPass timed(module, runCounters, runHost, workers);
                timed.run();
                wall = clock.wallMs();
                cpu = clock.cpuMsSince();
                processed = timed.processed();
            }
            const double rate = processed / (wall / 1000);
            const QDir after(afterFolder());
            QStringList files = after.entryList(QDir::Files, QDir::Name);
            QString same = QStringLiteral("reference");
            if (workers == 0) {
                aloneRate = rate;
                aloneFiles = files;
                aloneAfter = afterFolder();
            } else {
                bool equal = files == aloneFiles;
                for (int k = 0; equal && k < files.size(); ++k) {
                    QFile a(after.filePath(files[k]));
                    QFile b(QDir(aloneAfter).filePath(files[k]));
                    equal = a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) &&
                            a.readAll() == b.readAll();
                }
                same = equal ? QStringLiteral("byte for byte the same") : QStringLiteral("DIFFER");
            }
            const QString label = workers == 0 ? QStringLiteral("one at a time")
                                               : QStringLiteral("%1 worker(s)").arg(workers);
            std::printf("%-28s %10.2f %10.2f %12.1f %14.1f %s (%lld files)\n", qPrintable(label),
                        rate, rate / aloneRate, cpu / photos, runHost.peakRss / 1024.0,
                        qPrintable(same), static_cast<long long>(files.size()));
            std::fflush(stdout);
        }

        // The pool alone, with nothing else for the calling thread to do: how far the codec scales.
        std::printf("\n%-28s %10s %10s\n", "recompression pool alone", "photos/s", "speed-up");
        double oneRate = 0;
        for (const int workers : configs) {
            if (workers == 0) continue;
            RecompressionPool pool(workers);
            const int count = 8 * static_cast<int>(samples.size());
            QElapsedTimer clock;
            clock.start();
            std::vector<RecompressionPool::Ticket> tickets;
            for (int k = 0; k < count; ++k)
                tickets.push_back(pool.submit(60, samples[k % samples.size()]));
            for (const RecompressionPool::Ticket t : tickets) {
                pool.waitFor(t, -1);  // done by the workers, not by this thread
                (void)pool.take(t);
            }
            const double rate = count / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
            if (workers == 1) oneRate = rate;
            std::printf("%-28s %10.2f %10.2f\n",
                        qPrintable(QStringLiteral("%1 worker(s)").arg(workers)), rate,
                        rate / oneRate);
        }
        return 0;
    });
}
