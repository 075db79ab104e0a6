#include "BenchSupport.h"

#include <malloc.h>
#include <unistd.h>

#include <QFile>
#include <QList>
#include <algorithm>
#include <ctime>
#include <random>
#include <vector>

// libjpeg needs FILE and size_t declared first.
#include <jpeglib.h>

#include <cstdio>

namespace patrimonio::bench {

namespace {

double clockMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

}  // namespace

long procStatusKiB(const char* key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    const QByteArray prefix(key);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void resetPeak() {
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

double processCpuMs() {
    return clockMs(CLOCK_PROCESS_CPUTIME_ID);
}
double threadCpuMs() {
    return clockMs(CLOCK_THREAD_CPUTIME_ID);
}
double wallMs() {
    return clockMs(CLOCK_MONOTONIC);
}

double serverCpuMs() {
    // The server the scripts started for this user: its root folder is FB_ROOT when set.
    const QString root = qEnvironmentVariable("FB_ROOT", QStringLiteral("/tmp/importador-fb"));
    QFile pidFile(root + QStringLiteral("/server.pid"));
    if (!pidFile.open(QIODevice::ReadOnly)) return -1;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pidFile.readAll().trimmed().toInt()));
    if (!stat.open(QIODevice::ReadOnly)) return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    const double ticks = fields[11].toDouble() + fields[12].toDouble();  // utime + stime
    return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

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

}  // namespace patrimonio::bench
