// Times SetJPGCompression at quality 60 on camera-sized photos, side by side with a plain
// libjpeg-turbo loop (decode the whole picture, sample it, encode) and with ImageMagick's
// `convert IN -sample WxH! -quality 60 OUT`, and measures each one's peak memory above the
// baseline of a fresh process. The photos are generated: gradients, shapes and sensor-like
// noise, encoded at quality 92 so their entropy coding is that of real photos.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "photos/JpegLib.h"
#include "photos/JpegRecompressor.h"
#include "photos/NearestSampling.h"

extern char** environ;

namespace patrimonio {
namespace {

using bench::procStatusKiB;
using bench::threadCpuMs;
using bench::wallMs;

struct Photo {
    const char* name;
    int width;
    int height;
    bool progressive;
};

const Photo photos[] = {
    {"12 MP landscape", 4000, 3000, false},
    {"12 MP portrait", 3000, 4000, false},
    {"3 MP landscape", 2048, 1536, false},
    {"12 MP progressive", 4000, 3000, true},
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

void encodeFile(const std::vector<std::uint8_t>& rgb, int width, int height, int quality,
                bool progressive, const std::string& path) {
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    FILE* out = std::fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&info, out);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<JSAMPLE*>(&rgb[std::size_t{info.next_scanline} * width * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(out);
}

// The plain approach: the whole picture decoded to RGB, sampled, encoded, written.
void bareLoop(const std::string& in, const std::string& out) {
    QFile file(QString::fromStdString(in));
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    jpeg_decompress_struct d{};
    jpeg_error_mgr derr{};
    d.err = jpeg_std_error(&derr);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d, TRUE);
    const bool progressive = jpeg_has_multiple_scans(&d);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    const int w = static_cast<int>(d.output_width);
    const int h = static_cast<int>(d.output_height);
    std::vector<std::uint8_t> full(static_cast<std::size_t>(w) * h * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &full[std::size_t{d.output_scanline} * w * 3];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);

    const PictureSize box = boxSize(w, h);
    const std::vector<int> columns = nearestSourceMap(box.width, w);
    const std::vector<int> rows = nearestSourceMap(box.height, h);
    std::vector<std::uint8_t> small(static_cast<std::size_t>(box.width) * box.height * 3);
    for (int y = 0; y < box.height; ++y)
        for (int x = 0; x < box.width; ++x)
            std::memcpy(&small[(std::size_t{0} + y * box.width + x) * 3],
                        &full[(std::size_t{0} + rows[y] * std::size_t(w) + columns[x]) * 3], 3);
    encodeFile(small, box.width, box.height, 60, progressive, out);
}

void ours(const std::string& in, const std::string& out) {
    SetJPGCompression(60, QString::fromStdString(in), QString::fromStdString(out));
}

struct ChildCost {
    double cpuMs = -1;
    long peakKb = -1;
};

// Runs a program and waits for it; returns its CPU time (user + system) and peak resident set.
ChildCost runProcess(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return {};
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return {ms(usage.ru_utime) + ms(usage.ru_stime), usage.ru_maxrss};
}

// The best run: the machine is shared, and other work only ever adds time.
double best(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

// Child mode: one call in a fresh process; prints the peak above the baseline in kB.
int measurePeak(const std::string& method, const std::string& in, const std::string& out) {
    // Load the code paths once on a tiny picture so that only the call's own memory counts.
    const long baseline = procStatusKiB("VmRSS:");
    if (method == "ours")
        ours(in, out);
    else
        bareLoop(in, out);
    std::printf("%ld\n", procStatusKiB("VmHWM:") - baseline);
    return 0;
}

long childPeakKb(const std::string& self, const std::string& method, const std::string& in,
                 const std::string& out) {
    const std::string command = "'" + self + "' --peak " + method + " '" + in + "' '" + out + "'";
    FILE* pipe = popen(command.c_str(), "r");
    long kb = -1;
    if (pipe != nullptr) {
        if (std::fscanf(pipe, "%ld", &kb) != 1) kb = -1;
        pclose(pipe);
    }
    return kb;
}

// Writes the benchmark's photos into a folder, to try them by hand.
int generate(const std::string& folder) {
    for (const Photo& p : photos) {
        std::string name = p.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        encodeFile(scene(p.width, p.height), p.width, p.height, 92, p.progressive,
                   folder + "/" + name + ".jpg");
    }
    return 0;
}

int run(int runs) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 1;

    std::printf("%-18s %7s | %21s | %15s | %21s | %7s | %20s\n", "", "", "CPU ms (best)",
                "CPU ratio", "wall ms (best)", "wall", "peak MB");
    std::printf("%-18s %7s | %6s %6s %7s | %7s %7s | %6s %6s %7s | %7s | %6s %6s %6s\n", "photo",
                "size MB", "ours", "bare", "IM", "bare/us", "IM/us", "ours", "bare", "IM", "IM/us",
                "ours", "bare", "IM");
    for (const Photo& p : photos) {
        const std::string in = folder + "/in.jpg";
        encodeFile(scene(p.width, p.height), p.width, p.height, 92, p.progressive, in);
        const double sizeMb = static_cast<double>(QFile(QString::fromStdString(in)).size()) / 1e6;
        const std::string outOurs = folder + "/ours.jpg";
        const std::string outBare = folder + "/bare.jpg";
        const std::string outIm = folder + "/im.jpg";
        const PictureSize box = boxSize(p.width, p.height);
        const std::string geometry =
            std::to_string(box.width) + "x" + std::to_string(box.height) + "!";
        const std::vector<std::string> convert = {"/usr/bin/convert", in,   "-sample", geometry,
                                                  "-quality",         "60", outIm};

        ours(in, outOurs);  // warm the file cache and the code
        bareLoop(in, outBare);
        std::vector<double> cpuOurs, cpuBare, cpuIm, wallOurs, wallBare, wallIm;
        long imPeak = 0;
        for (int r = 0; r < runs; ++r) {  // interleaved, so that load from others hits all
            double c0 = threadCpuMs(), w0 = wallMs();
            ours(in, outOurs);
            cpuOurs.push_back(threadCpuMs() - c0);
            wallOurs.push_back(wallMs() - w0);
            c0 = threadCpuMs(), w0 = wallMs();
            bareLoop(in, outBare);
            cpuBare.push_back(threadCpuMs() - c0);
            wallBare.push_back(wallMs() - w0);
            if (r < 3) {
                w0 = wallMs();
                const ChildCost im = runProcess(convert);
                wallIm.push_back(wallMs() - w0);
                cpuIm.push_back(im.cpuMs);
                imPeak = im.peakKb;
            }
        }
        const double o = best(cpuOurs), b = best(cpuBare), m = best(cpuIm);
        const double wo = best(wallOurs), wb = best(wallBare), wm = best(wallIm);
        const long peakOurs = childPeakKb(self, "ours", in, outOurs);
        const long peakBare = childPeakKb(self, "bare", in, outBare);
        std::printf(
            "%-18s %7.2f | %6.1f %6.1f %7.1f | %6.2fx %6.2fx | %6.1f %6.1f %7.1f | %6.2fx | %6.1f "
            "%6.1f %6.1f\n",
            p.name, sizeMb, o, b, m, b / o, m / o, wo, wb, wm, wm / wo, peakOurs / 1024.0,
            peakBare / 1024.0, imPeak / 1024.0);
        std::fflush(stdout);
    }
    std::printf(
        "best of %d runs (ImageMagick: of 3, its process start included); CPU: user + system; "
        "peak: above a fresh process's baseline (ImageMagick: its whole peak)\n",
        runs);
    return 0;
}

}  // namespace
}  // namespace patrimonio

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--generate") == 0) return patrimonio::generate(argv[2]);
    if (argc == 5 && std::strcmp(argv[1], "--peak") == 0)
        return patrimonio::measurePeak(argv[2], argv[3], argv[4]);
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 7;
    return patrimonio::run(runs);
}
