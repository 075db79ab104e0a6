// Arbitrary bytes as a stored photo: written as the before file and recompressed into the after
// file. Errors are fine; a crash, a hang or memory beyond the run's limit is a finding. A photo
// that comes out must be a JPEG at its box size, byte for byte the after file.
//
// The last byte of the input, taken as a signed number, is the requested quality (bytes after
// the end of a JPEG stream are ignored by the codec, so the seeds stay valid pictures).

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/Errors.h"
#include "photos/JpegErrorGuard.h"
#include "photos/JpegRecompressor.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_recompress: %s\n", what);
    std::abort();
}

const QTemporaryDir& folder() {
    static const QTemporaryDir dir;
    if (!dir.isValid()) fail("no temporary folder");
    return dir;
}

struct FrameSize {
    int width = 0;
    int height = 0;
};

// The frame size in the header of a JPEG; raises AppError when the codec cannot read it.
FrameSize frameSize(const QByteArray& jpeg) {
    patrimonio::jpeg::ErrorGuard guard;
    jpeg_decompress_struct info{};
    info.err = guard.manager();
    guard.run("Cannot start the JPEG decoder", [&] { jpeg_create_decompress(&info); });
    FrameSize size;
    try {
        guard.run("Not a readable JPEG", [&] {
            jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                         static_cast<unsigned long>(jpeg.size()));
            jpeg_read_header(&info, TRUE);
        });
        size = {static_cast<int>(info.image_width), static_cast<int>(info.image_height)};
    } catch (...) {
        jpeg_destroy_decompress(&info);
        throw;
    }
    jpeg_destroy_decompress(&info);
    return size;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace patrimonio;
    const QString before = folder().filePath(QStringLiteral("1__foto.jpg"));
    const QString after = folder().filePath(QStringLiteral("1 foto.jpg"));
    {
        QFile f(before);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the before file");
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    QFile::remove(after);
    const int quality = size > 0 ? static_cast<std::int8_t>(data[size - 1]) : 60;

    std::optional<QByteArray> out;
    try {
        out = SetJPGCompression(quality, before, after);
    } catch (const AppError&) {
        return 0;  // not a picture the codec can read: the callers count or swallow it
    }
    if (!out) fail("a before file with an extension gave no photo");
    if (fileBytes(after) != *out) fail("the after file differs from the returned photo");

    // The photo written must read back as a picture of its box size: 600 wide and less high
    // (landscape), or 800 high and at most as wide (portrait and square).
    FrameSize frame;
    try {
        frame = frameSize(*out);
    } catch (const AppError&) {
        fail("the recompressed photo cannot be read back");
    }
    const bool landscape = frame.width == maxWidth && frame.height >= 1 && frame.height < maxWidth;
    const bool portrait = frame.height == maxHeight && frame.width >= 1 && frame.width <= maxHeight;
    if (!landscape && !portrait) fail("the recompressed photo is not at its box size");
    return 0;
}
