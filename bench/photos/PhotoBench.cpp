// Times SetJPGCompression at quality 60 on camera-sized photos, side by side with a plain
// libjpeg-turbo loop (decode the whole picture, sample it, encode) and with three programs that
// bring a photo to the same box at the same quality, one process per photo:
//   ImageMagick     /usr/bin/convert IN -sample WxH! -strip -quality 60 OUT
//   GraphicsMagick  gm convert IN -sample WxH! -strip -quality 60 OUT
//   libvips         vipsthumbnail IN -s WxH! -o OUT[Q=60,strip]
// A progressive photo is written progressive by every one of them, as the recompression does.
// The two Magicks sample the full decode like we do; vipsthumbnail has the codec decode at 1/2,
// 1/4 or 1/8 of the size first and then filters, a different picture for less work. The programs
// run with one thread each (their CPU time is then their work, not their waiting), and their
// time includes starting the process; the cost of starting alone is shown on a 16 x 16 photo.
// Each method's peak memory is measured too: ours and the loop above a fresh process's baseline,
// the programs whole.
//
// The photos are generated, with gradients, shapes and sensor-like noise encoded at quality 92 so
// that their entropy coding is that of real photos, in the layouts cameras and editors write:
// 4:2:0, 4:2:2 and 4:4:4, sequential and progressive, and camera files with restart markers and
// an EXIF block holding a thumbnail (and no JFIF header).

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BareLoop.h"
#include "BenchArgs.h"
#include "BenchSupport.h"
#include "photos/JpegLib.h"
#include "photos/JpegRecompressor.h"
#include "photos/NearestSampling.h"

extern char** environ;

namespace patrimonio {
namespace {

using bench::bareLoop;
using bench::encode;
using bench::Encoding;
using bench::procStatusKiB;
using bench::readBytes;
using bench::sampled;
using bench::threadCpuMs;
using bench::wallMs;
using bench::writeBytes;

struct Photo {
    const char* name;
    int width;
    int height;
    Encoding encoding;
};

// "camera": an EXIF block with a thumbnail and no JFIF header; "RST": a restart marker after
// every row of blocks.
const Photo photos[] = {
    {"12 MP 4:2:0", 4000, 3000, {}},
    {"12 MP 4:2:0 portrait", 3000, 4000, {}},
    {"3 MP 4:2:0", 2048, 1536, {}},
    {"12 MP 4:2:0 progressive", 4000, 3000, {92, 2, 2, true}},
    {"16 MP 4:2:2 camera RST", 4608, 3456, {92, 2, 1, false, 1, true}},
    {"24 MP 4:2:0 camera RST", 6000, 4000, {92, 2, 2, false, 1, true}},
    {"5 MP 4:2:2 camera prog", 2592, 1944, {92, 2, 1, true, 0, true}},
    {"8 MP 4:4:4 portrait", 2448, 3264, {92, 1, 1}},
};

std::vector<std::uint8_t> scene(int width, int height) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t seed = 2463534242u;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            const double fx = static_cast<double>(x) / width;
            const double fy = static_cast<double>(y) / height;
            const double sky = fy < 0.4 ? 1.0 : 0.0;
            const double texture =
                18 * std::sin(x * 0.07) * std::cos(y * 0.05) + 12 * std::sin((x + 2 * y) * 0.011);
            const double disc = std::hypot(fx - 0.6, fy - 0.55) < 0.18 ? 60 : 0;
            const int noise = static_cast<int>(seed % 29) - 14;
            const double base[3] = {90 + 80 * fx + disc - 40 * sky, 100 + 60 * fy - 20 * sky,
                                    70 + 120 * sky + 30 * fx};
            for (int i = 0; i < 3; ++i) {
                const int v = static_cast<int>(base[i] + texture * (1 - sky * 0.7)) + noise;
                rgb[(static_cast<std::size_t>(y) * width + x) * 3 + i] =
                    static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
        }
    }
    return rgb;
}

// A camera's APP1 block: EXIF with make, model, orientation 1 and date in the first directory,
// and the JPEG thumbnail in the second (little-endian TIFF).
QByteArray exifBlock(const QByteArray& thumbnail) {
    QByteArray tiff;
    const auto u16 = [&](int v) {
        tiff.append(static_cast<char>(v & 0xFF)).append(static_cast<char>((v >> 8) & 0xFF));
    };
    const auto u32 = [&](long v) {
        u16(static_cast<int>(v & 0xFFFF));
        u16(static_cast<int>((v >> 16) & 0xFFFF));
    };
    const QByteArray make("Camera\0", 7), model("Model 12\0", 9);
    const QByteArray date("2026:12:10 10:00:00\0", 20);
    // Layout: header (8), IFD0 (2 + 4 * 12 + 4), its strings, IFD1 (2 + 3 * 12 + 4), thumbnail.
    const long ifd0 = 8;
    const long strings = ifd0 + 2 + 4 * 12 + 4;
    const long ifd1 = strings + make.size() + model.size() + date.size();
    const long thumb = ifd1 + 2 + 3 * 12 + 4;
    // One directory entry: tag, type (2 text, 3 short, 4 long), count, value or offset (a
    // short value sits in the low bytes, which come first).
    const auto entry = [&](int tag, int type, long count, long value) {
        u16(tag);
        u16(type);
        u32(count);
        u32(value);
    };
    tiff.append("II", 2);
    u16(42);
    u32(ifd0);
    u16(4);
    entry(0x010F, 2, make.size(), strings);                               // Make
    entry(0x0110, 2, model.size(), strings + make.size());                // Model
    entry(0x0112, 3, 1, 1);                                               // Orientation
    entry(0x0132, 2, date.size(), strings + make.size() + model.size());  // DateTime
    u32(ifd1);
    tiff.append(make).append(model).append(date);
    u16(3);
    entry(0x0103, 3, 1, 6);                 // Compression: JPEG
    entry(0x0201, 4, 1, thumb);             // JPEGInterchangeFormat
    entry(0x0202, 4, 1, thumbnail.size());  // JPEGInterchangeFormatLength
    u32(0);
    tiff.append(thumbnail);
    return QByteArray("Exif\0\0", 6) + tiff;
}

QByteArray makePhoto(const Photo& p) {
    const std::vector<std::uint8_t> rgb = scene(p.width, p.height);
    QByteArray app1;
    if (p.encoding.camera) {
        const int tw = p.width > p.height ? 160 : 120;
        const int th = p.width > p.height ? 120 : 160;
        app1 = exifBlock(encode(sampled(rgb, p.width, p.height, tw, th), tw, th, {80}));
    }
    return encode(rgb, p.width, p.height, p.encoding, app1);
}

// The frame size a JPEG file declares; 0 x 0 when it is not a readable JPEG.
PictureSize frameOf(const std::string& path) {
    const QByteArray bytes = readBytes(path);
    if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0xFF) return {0, 0};
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d, TRUE);
    const PictureSize size{static_cast<int>(d.image_width), static_cast<int>(d.image_height)};
    jpeg_destroy_decompress(&d);
    return size;
}

void ours(const std::string& in, const std::string& out) {
    SetJPGCompression(60, QString::fromStdString(in), QString::fromStdString(out));
}

// The three programs, in the order of the table.
constexpr int peerCount = 3;
const char* const peerNames[peerCount] = {"IM", "GM", "vips"};

std::vector<std::string> peerCommand(int peer, const std::string& in, const std::string& out,
                                     PictureSize box, bool progressive) {
    const std::string geometry = std::to_string(box.width) + "x" + std::to_string(box.height) + "!";
    switch (peer) {
        case 0: {
            std::vector<std::string> c = {"/usr/bin/convert", in,         "-sample", geometry,
                                          "-strip",           "-quality", "60"};
            if (progressive) c.insert(c.end(), {"-interlace", "JPEG"});
            c.push_back(out);
            return c;
        }
        case 1: {
            std::vector<std::string> c = {"/usr/bin/gm", "convert", in,         "-sample",
                                          geometry,      "-strip",  "-quality", "60"};
            if (progressive) c.insert(c.end(), {"-interlace", "Line"});
            c.push_back(out);
            return c;
        }
        default:
            return {"/usr/bin/vipsthumbnail",
                    in,
                    "-s",
                    geometry,
                    "-o",
                    out + (progressive ? "[Q=60,strip,interlace]" : "[Q=60,strip]")};
    }
}

struct ChildCost {
    double cpuMs = -1;
    long peakKiB = -1;
    bool ok = false;
};

// The environment of the programs: this one's, with every thread pool at one thread.
std::vector<std::string> singleThreadEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("MAGICK_THREAD_LIMIT=", 0) == 0 ||
            entry.rfind("OMP_NUM_THREADS=", 0) == 0 || entry.rfind("VIPS_CONCURRENCY=", 0) == 0)
            continue;
        env.push_back(entry);
    }
    env.insert(env.end(), {"MAGICK_THREAD_LIMIT=1", "OMP_NUM_THREADS=1", "VIPS_CONCURRENCY=1"});
    return env;
}

// Helper mode: forks and runs the program, waits for it and prints its CPU time (user +
// system, ms), its peak resident set (KiB) and whether it succeeded. Linux gives a process the
// peak of the memory it was started from: spawned from the benchmark, a program would be charged
// the benchmark's own peak (its photos in memory), so a fresh small process starts it instead.
int runAndReport(char** args) {
    const pid_t pid = fork();
    if (pid == 0) {
        execv(args[0], args);
        _exit(127);
    }
    if (pid < 0) return 1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    std::printf("%.3f %ld %d\n", ms(usage.ru_utime) + ms(usage.ru_stime), usage.ru_maxrss,
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0);
    return 0;
}

std::string selfPath() {
    char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    return length > 0 ? std::string(self, static_cast<std::size_t>(length)) : std::string();
}

// Runs a program through the helper mode and waits for it.
ChildCost runProcess(const std::vector<std::string>& args) {
    static const std::vector<std::string> env = singleThreadEnvironment();
    static const std::string self = selfPath();
    std::vector<char*> argv = {const_cast<char*>(self.c_str()), const_cast<char*>("--run")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    ChildCost cost;
    if (spawned == 0) {
        char text[128] = {};
        const ssize_t n = read(out[0], text, sizeof text - 1);
        int ok = 0;
        if (n > 0 && std::sscanf(text, "%lf %ld %d", &cost.cpuMs, &cost.peakKiB, &ok) == 3)
            cost.ok = ok == 1;
        waitpid(pid, nullptr, 0);
    }
    close(out[0]);
    return cost;
}

// The best run: the machine is shared, and other work only ever adds time.
double best(const std::vector<double>& values) {
    return values.empty() ? -1 : *std::min_element(values.begin(), values.end());
}

// Child mode: one call in a fresh process; prints the peak above the baseline in KiB.
int measurePeak(const std::string& method, const std::string& in, const std::string& out) {
    const long baseline = procStatusKiB("VmRSS:");
    if (method == "ours")
        ours(in, out);
    else
        bareLoop(in, out);
    std::printf("%ld\n", procStatusKiB("VmHWM:") - baseline);
    return 0;
}

long childPeakKiB(const std::string& self, const std::string& method, const std::string& in,
                  const std::string& out) {
    const std::string command = "'" + self + "' --peak " + method + " '" + in + "' '" + out + "'";
    FILE* pipe = popen(command.c_str(), "r");
    long kib = -1;
    if (pipe != nullptr) {
        if (std::fscanf(pipe, "%ld", &kib) != 1) kib = -1;
        pclose(pipe);
    }
    return kib;
}

std::string fileName(const Photo& p) {
    std::string name = p.name;
    std::replace(name.begin(), name.end(), ' ', '_');
    std::replace(name.begin(), name.end(), ':', '-');
    return name + ".jpg";
}

// Writes the benchmark's photos into a folder, to try them by hand.
int generate(const std::string& folder) {
    for (const Photo& p : photos)
        if (!writeBytes(folder + "/" + fileName(p), makePhoto(p))) return 1;
    return 0;
}

// One photo's figures: CPU and wall ms (best), peak MiB, for ours, the loop and each program.
struct Row {
    std::array<double, 2 + peerCount> cpu{};
    std::array<double, 2 + peerCount> wall{};
    std::array<double, 2 + peerCount> peak{};
};

// The CPU time of each program's start alone, on a 16 x 16 photo.
std::array<double, peerCount> startCosts(const std::string& folder) {
    const std::string in = folder + "/tiny.jpg";
    writeBytes(in, encode(scene(16, 16), 16, 16, {}));
    std::array<double, peerCount> costs{};
    for (int k = 0; k < peerCount; ++k) {
        std::vector<double> cpu;
        for (int r = 0; r < 3; ++r)
            cpu.push_back(
                runProcess(peerCommand(k, in, folder + "/tiny-out.jpg", {16, 16}, false)).cpuMs);
        costs[k] = best(cpu);
    }
    return costs;
}

int run(int runs) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const std::string self = selfPath();
    if (self.empty()) return 1;

    const char* columns[2 + peerCount] = {"ours", "bare", peerNames[0], peerNames[1], peerNames[2]};
    std::printf(
        "CPU ms per photo (best of %d; the programs best of 3, one process per photo, "
        "its start included)\n",
        runs);
    std::printf("%-24s %5s |", "photo", "MB");
    for (const char* c : columns) std::printf(" %7s", c);
    std::printf(" |");
    for (int k = 1; k < 2 + peerCount; ++k) std::printf(" %5s/us", columns[k]);
    std::printf("\n");

    std::vector<Row> rows;
    std::array<double, 2 + peerCount> logRatio{};
    for (const Photo& p : photos) {
        const std::string in = folder + "/in.jpg";
        const QByteArray jpeg = makePhoto(p);
        writeBytes(in, jpeg);
        const std::string outs[2 + peerCount] = {folder + "/ours.jpg", folder + "/bare.jpg",
                                                 folder + "/im.jpg", folder + "/gm.jpg",
                                                 folder + "/vips.jpg"};
        const PictureSize box = boxSize(p.width, p.height);
        const bool progressive = p.encoding.progressive;

        ours(in, outs[0]);  // warm the file cache and the code
        bareLoop(in, outs[1]);
        std::array<std::vector<double>, 2 + peerCount> cpu, wall;
        Row row;
        bool peersOk = true;
        for (int r = 0; r < runs; ++r) {  // interleaved, so that load from others hits all
            double c0 = threadCpuMs(), w0 = wallMs();
            ours(in, outs[0]);
            cpu[0].push_back(threadCpuMs() - c0);
            wall[0].push_back(wallMs() - w0);
            c0 = threadCpuMs(), w0 = wallMs();
            bareLoop(in, outs[1]);
            cpu[1].push_back(threadCpuMs() - c0);
            wall[1].push_back(wallMs() - w0);
            if (r >= 3) continue;
            for (int k = 0; k < peerCount; ++k) {
                w0 = wallMs();
                const ChildCost cost =
                    runProcess(peerCommand(k, in, outs[2 + k], box, progressive));
                wall[2 + k].push_back(wallMs() - w0);
                cpu[2 + k].push_back(cost.cpuMs);
                row.peak[2 + k] = static_cast<double>(cost.peakKiB) / 1024.0;
                peersOk = peersOk && cost.ok;
            }
        }
        for (int k = 0; k < 2 + peerCount; ++k) {
            row.cpu[k] = best(cpu[k]);
            row.wall[k] = best(wall[k]);
            const PictureSize made = frameOf(outs[k]);
            if (made.width != box.width || made.height != box.height) peersOk = false;
        }
        row.peak[0] = static_cast<double>(childPeakKiB(self, "ours", in, outs[0])) / 1024.0;
        row.peak[1] = static_cast<double>(childPeakKiB(self, "bare", in, outs[1])) / 1024.0;

        std::printf("%-24s %5.2f |", p.name, static_cast<double>(jpeg.size()) / 1e6);
        for (const double v : row.cpu) std::printf(" %7.1f", v);
        std::printf(" |");
        for (int k = 1; k < 2 + peerCount; ++k) {
            std::printf(" %7.2fx", row.cpu[k] / row.cpu[0]);
            logRatio[k] += std::log(row.cpu[k] / row.cpu[0]);
        }
        std::printf("%s\n", peersOk ? "" : "  (a method failed or missed the box)");
        std::fflush(stdout);
        rows.push_back(row);
    }
    std::printf("%-24s %5s |", "geometric mean", "");
    for (int k = 0; k < 2 + peerCount; ++k) std::printf(" %7s", "");
    std::printf(" |");
    for (int k = 1; k < 2 + peerCount; ++k)
        std::printf(" %7.2fx", std::exp(logRatio[k] / static_cast<double>(rows.size())));
    std::printf("\n%-24s %5s | %7s %7s", "process start (16x16)", "", "", "");
    for (const double c : startCosts(folder)) std::printf(" %7.1f", c);
    std::printf(" |\n\n");

    std::printf(
        "wall ms per photo (best) and peak MiB (ours and bare: above a fresh process's "
        "baseline; the programs: whole)\n");
    std::printf("%-24s |", "photo");
    for (const char* c : columns) std::printf(" %7s", c);
    std::printf(" |");
    for (const char* c : columns) std::printf(" %6s", c);
    std::printf("\n");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::printf("%-24s |", photos[i].name);
        for (const double v : rows[i].wall) std::printf(" %7.1f", v);
        std::printf(" |");
        for (const double v : rows[i].peak) std::printf(" %6.1f", v);
        std::printf("\n");
    }
    return 0;
}

}  // namespace
}  // namespace patrimonio

int main(int argc, char** argv) {
    const patrimonio::bench::Args args(argc, argv);
    if (args.count() == 2 && args.is(1, "--generate")) return patrimonio::generate(argv[2]);
    if (args.count() >= 2 && args.is(1, "--run")) return patrimonio::runAndReport(argv + 2);
    if (args.count() == 4 && args.is(1, "--peak"))
        return patrimonio::measurePeak(argv[2], argv[3], argv[4]);
    return patrimonio::run(std::max(3, args.number(1, 7)));
}
