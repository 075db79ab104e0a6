#include "BenchSupport.h"

#include <malloc.h>
#include <unistd.h>

#include <QFile>
#include <QList>
#include <algorithm>
#include <ctime>
#include <random>
#include <vector>

#include "BareLoop.h"

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
    // The server's root folder as scripts/fb-env.sh chooses it.
    QString root = qEnvironmentVariable("FB_ROOT");
    if (root.isEmpty())
        root = getuid() == 0 ? QStringLiteral("/tmp/importador-fb")
                             : QStringLiteral("/tmp/importador-fb-%1").arg(getuid());
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
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-12, 12);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    std::uint8_t* pixel = rgb.data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int base[3] = {(x * 255) / width, (y * 255) / height,
                                 ((x + y) * 255) / (width + height)};
            for (int k = 0; k < 3; ++k)
                *pixel++ = static_cast<std::uint8_t>(std::clamp(base[k] + noise(rng), 0, 255));
        }
    }
    return encode(rgb, width, height, {88});
}

}  // namespace patrimonio::bench
