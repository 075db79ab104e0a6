// The photo-only pass over camera-sized photos, run by hand with the pauses set to zero:
//   photopass_bench [photos=1000] [width=4000] [height=3000]
// It prints the pass's cost per photo beside the two things it cannot avoid, one recompression
// and one write-back, and the resident memory along the pass (it must stay flat).
// Needs the private Firebird server for creating the database file (scripts/fb-server-start.sh).
#include <malloc.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

// libjpeg needs FILE and size_t declared first.
#include <jpeglib.h>

#include "TestDatabase.h"
#include "core/AppPaths.h"
#include "core/RunCounters.h"
#include "core/RunHost.h"
#include "db/DataModule.h"
#include "photos/JpegRecompressor.h"
#include "photos/PhotoPass.h"

using namespace patrimonio;

namespace {

// Resident memory in KiB (Linux only; benchmarks run on the CI machine's kind).
long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// A camera-like photo: smooth gradients with fine noise, so the entropy coder has real work.
QByteArray cameraPhoto(int width, int height, unsigned seed) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 88, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-12, 12);
    std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            const int base[3] = {(x * 255) / width, (y * 255) / height,
                                 ((x + y) * 255) / (width + height)};
            for (int k = 0; k < 3; ++k) {
                row[x * 3 + k] =
                    static_cast<unsigned char>(std::clamp(base[k] + noise(rng), 0, 255));
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
    jpeg_destroy_compress(&cinfo);
    free(out);
    return bytes;
}

// A window that never waits; it notes the resident memory at the start of every batch.
class BenchHost : public RunHost {
public:
    std::vector<long> batchRss;
    void setStatus(const QString& text) override {
        if (text == kPhotoPassLoading) batchRss.push_back(residentKiB());
    }
    void setWork(const QString&) override {}
    void setGaugeMinimum(int) override {}
    void setGaugeMaximum(int value) override { max_ = value; }
    void setGaugeProgress(int value) override { progress_ = value; }
    int gaugeMaximum() const override { return max_; }
    int gaugeProgress() const override { return progress_; }
    void pumpMessages() override {}
    void pause(int) override {}
    void showMessage(const QString& text) override { summary = text; }
    QString qualityText() const override { return QStringLiteral("60"); }
    QString skipListText() const override { return {}; }
    QString logText() const override { return log_; }
    void setLogText(const QString& text) override { log_ = text; }
    void appendLogLine(const QString&) override {}
    void saveLog() override {}
    void setRunEnabled(bool) override {}
    void setLogButtonEnabled(bool) override {}
    void openFolder(const QString&) override {}
    QString summary;

private:
    int max_ = 0;
    int progress_ = 0;
    QString log_;
};

double msSince(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int photos = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int width = argc > 2 ? std::atoi(argv[2]) : 4000;
    const int height = argc > 3 ? std::atoi(argv[3]) : 3000;

    QTemporaryDir tmp;
    setExecutableDirForTesting(tmp.path());
    const QString dbPath = tmp.filePath(QStringLiteral("bench.fdb"));
    test::createDatabase(dbPath,
                         "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY,"
                         " BEM_DESCRICAO VARCHAR(60), BEM_IMAGEM BLOB SUB_TYPE 0,"
                         " BEM_IMAGEM_NOME VARCHAR(100));");

    // Four different photos, in turn.
    std::vector<QByteArray> samples;
    for (unsigned s = 0; s < 4; ++s) samples.push_back(cameraPhoto(width, height, s));
    std::printf("photo: %d x %d, about %lld KiB stored\n", width, height,
                static_cast<long long>(samples[0].size() / 1024));

    {
        DataModule data;
        data.Con_Novo.Params = Connection::editParams(dbPath);
        data.Con_Novo.Open();
        RecordSet& cds = data.CdsAux;
        cds.setCommandText(QStringLiteral(
            "SELECT BEM_CODIGO, BEM_DESCRICAO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM"));
        cds.Open();
        for (int code = 1; code <= photos; ++code) {
            cds.Append();
            cds.FieldByName(QStringLiteral("BEM_CODIGO")).setAsVariant(Value::integer(code));
            cds.FieldByName(QStringLiteral("BEM_DESCRICAO")).setAsString(QStringLiteral("Bem"));
            cds.FieldByName(QStringLiteral("BEM_IMAGEM"))
                .setAsVariant(Value::binary(samples[code % samples.size()]));
            cds.FieldByName(QStringLiteral("BEM_IMAGEM_NOME"))
                .setAsString(QStringLiteral("foto%1.jpg").arg(code));
            cds.Post();
            if (code % 20 == 0) cds.ApplyUpdates(0);
        }
        cds.ApplyUpdates(0);
        cds.Close();
    }

    // Reference 1: one recompression of each sample, several times.
    QDir().mkpath(tmp.filePath(QStringLiteral("ref")));
    std::vector<QString> inputs;
    for (size_t s = 0; s < samples.size(); ++s) {
        const QString in = tmp.filePath(QStringLiteral("ref/in%1.jpg").arg(s));
        QFile f(in);
        f.open(QIODevice::WriteOnly);
        f.write(samples[s]);
        inputs.push_back(in);
    }
    const int rounds = 5;
    QElapsedTimer t;
    t.start();
    QByteArray recompressed;
    for (int r = 0; r < rounds; ++r) {
        for (const QString& in : inputs) {
            recompressed = *SetJPGCompression(60, in, tmp.filePath(QStringLiteral("ref/out.jpg")));
        }
    }
    const double recompressMs = msSince(t) / (rounds * static_cast<double>(inputs.size()));

    // Reference 2: one write-back of one recompressed photo into its row, as the pass does it.
    const int writeBacks = std::min(photos, 50);
    double writeBackMs = 0;
    {
        DataModule data;
        data.Con_Novo.Params = Connection::editParams(dbPath);
        data.Con_Novo.Open();
        RecordSet& cds = data.CdsAux;
        cds.setCommandText(
            QStringLiteral(
                "SELECT FIRST %1 BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM ORDER BY "
                "BEM_CODIGO")
                .arg(writeBacks));
        cds.Open();
        QElapsedTimer w;
        while (!cds.Eof()) {
            QByteArray bytes = recompressed;
            QBuffer stream(&bytes);
            stream.open(QIODevice::ReadOnly);
            w.start();
            cds.Edit();
            cds.FieldByName(QStringLiteral("BEM_IMAGEM")).LoadFromStream(stream);
            cds.Post();
            cds.ApplyUpdates(0);
            writeBackMs += msSince(w);
            cds.Next();
        }
        cds.Close();
        writeBackMs /= writeBacks;
    }
    // Put the original photos of those rows back, so that the pass meets camera photos only.
    {
        DataModule data;
        data.Con_Novo.Params = Connection::editParams(dbPath);
        data.Con_Novo.Open();
        RecordSet& cds = data.CdsAux;
        cds.setCommandText(
            QStringLiteral(
                "SELECT FIRST %1 BEM_CODIGO, BEM_IMAGEM FROM PAT_BEM ORDER BY BEM_CODIGO")
                .arg(writeBacks));
        cds.Open();
        while (!cds.Eof()) {
            const int code = static_cast<int>(cds.Fields(0).AsVariant().integer());
            cds.Edit();
            cds.FieldByName(QStringLiteral("BEM_IMAGEM"))
                .setAsVariant(Value::binary(samples[code % samples.size()]));
            cds.Post();
            cds.Next();
        }
        cds.ApplyUpdates(0);
        cds.Close();
    }
    malloc_trim(0);

    // The pass itself.
    DataModule data;
    data.Con_Novo.Params = Connection::editParams(dbPath);
    data.Con_Novo.Open();
    RunCounters counters;
    BenchHost host;
    const long rssBefore = residentKiB();
    t.start();
    PhotoPass pass(data, counters, host);
    pass.run();
    const double passMs = msSince(t);
    const long rssAfter = residentKiB();

    const double perPhoto = passMs / photos;
    const double budget = 1.15 * recompressMs + writeBackMs;
    std::printf("\n%-44s %10s\n", "", "ms/photo");
    std::printf("%-44s %10.1f\n", "recompression alone (SetJPGCompression)", recompressMs);
    std::printf("%-44s %10.1f\n", "one write-back of a recompressed photo", writeBackMs);
    std::printf("%-44s %10.1f\n", "budget: 1.15 x recompression + write-back", budget);
    std::printf("%-44s %10.1f   (%s)\n", "photo-only pass, pauses zero", perPhoto,
                perPhoto <= budget ? "within budget" : "OVER BUDGET");
    std::printf("%-44s %10.1f s for %d photos, %d processed, %d failed\n", "", passMs / 1000,
                photos, pass.processed(), pass.failed());

    long rssMax = 0;
    for (long r : host.batchRss) rssMax = std::max(rssMax, r);
    std::printf(
        "\nresident memory (MiB): before %.1f, batch 1 %.1f, batch 2 %.1f, last batch %.1f, "
        "peak at a batch start %.1f, after %.1f\n",
        rssBefore / 1024.0, host.batchRss.empty() ? 0 : host.batchRss.front() / 1024.0,
        host.batchRss.size() > 1 ? host.batchRss[1] / 1024.0 : 0,
        host.batchRss.empty() ? 0 : host.batchRss.back() / 1024.0, rssMax / 1024.0,
        rssAfter / 1024.0);
    return pass.processed() == photos ? 0 : 1;
}
