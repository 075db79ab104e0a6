#include "photos/JpegRecompressor.h"

#include <QFile>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/Errors.h"
#include "core/Text.h"
#include "photos/JpegDecoder.h"
#include "photos/JpegEncoder.h"
#include "photos/NearestSampling.h"
#include "photos/PhotoFiles.h"

namespace patrimonio {

namespace {

QByteArray readWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(
            QStringLiteral("Cannot open the photo %1: %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw AppError(
            QStringLiteral("Cannot read the photo %1: %2").arg(path, file.errorString()));
    return bytes;
}

}  // namespace

void writeRecompressedFile(const QString& AOutFile, const QByteArray& jpeg) {
    const FileWrite written = writeWholeFile(AOutFile, jpeg);
    if (written.failure == FileWrite::Failure::Create)
        throw AppError(QStringLiteral("Cannot create the photo ") + written.detail);
    if (!written.ok()) throw AppError(QStringLiteral("Cannot write the photo ") + written.detail);
}

RecompressedPhoto recompressInMemory(int Compressao, const QByteArray& stored) {
    const int quality = boundedQuality(Compressao);
    // Decoding samples each kept row as it comes, so the full-size picture is never held.
    SampledPhoto sampled = decodeSampled(stored);
    RecompressedPhoto out;
    out.jpeg = encodeJpeg(sampled.picture, quality, sampled.multipleScans);
    out.picture = std::move(sampled.picture);
    return out;
}

int boundedQuality(int Compressao) {
    if (Compressao == INT_MIN) return 100;
    const int quality = std::abs(Compressao);
    if (quality == 0) return 1;
    return quality > 100 ? 100 : quality;
}

void SetResize(Picture& Bit) {
    if (Bit.width <= 0 || Bit.height <= 0)
        throw AppError(QStringLiteral("An empty picture cannot be scaled"));
    const PictureSize box = boxSize(Bit.width, Bit.height);
    const std::vector<int> columns = nearestSourceMap(box.width, Bit.width);
    const std::vector<int> rows = nearestSourceMap(box.height, Bit.height);
    Picture scaled(box.width, box.height);
    for (int y = 0; y < box.height; ++y) {
        const std::uint8_t* src = Bit.row(rows[y]);
        std::uint8_t* dst = scaled.row(y);
        for (const int sx : columns) {
            std::memcpy(dst, src + std::size_t{3} * sx, 3);
            dst += 3;
        }
    }
    Bit = std::move(scaled);
}

std::optional<QByteArray> recompressJpeg(int Compressao, const QByteArray& photo,
                                         const QString& AInFile) {
    // A before file without an extension is not a photo this step handles.
    if (trimmed(extensionOf(AInFile)).isEmpty()) return std::nullopt;

    return recompressInMemory(Compressao, photo).jpeg;
}

std::optional<QByteArray> recompressPhoto(int Compressao, const QByteArray& photo,
                                          const QString& AInFile, const QString& AOutFile) {
    std::optional<QByteArray> output = recompressJpeg(Compressao, photo, AInFile);
    if (output) writeRecompressedFile(AOutFile, *output);
    return output;
}

std::optional<QByteArray> SetJPGCompression(int Compressao, const QString& AInFile,
                                            const QString& AOutFile) {
    if (trimmed(extensionOf(AInFile)).isEmpty()) return std::nullopt;
    return recompressPhoto(Compressao, readWholeFile(AInFile), AInFile, AOutFile);
}

}  // namespace patrimonio
