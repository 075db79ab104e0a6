#include "runs/AssetPhoto.h"

#include <exception>
#include <optional>

#include "core/AppPaths.h"
#include "core/Errors.h"
#include "db/RecordSet.h"
#include "photos/JpegRecompressor.h"
#include "photos/PhotoFiles.h"
#include "runs/PhotoLookahead.h"
#include "runs/QualityText.h"

namespace patrimonio {

AssetPhoto carryAssetPhoto(const Field& stored, const QString& code, const QString& name,
                           const QString& qualityText, PhotoLookahead& photos, int row) {
    AssetPhoto photo;
    // A null photo is known from the row as read, without fetching anything.
    const Value value = stored.isNull() ? Value() : stored.AsVariant();
    if (!value.isNull() && !value.bytes().isEmpty()) {
        // From here on the stored bytes are what the target receives unless a recompressed
        // JPEG replaces them: whatever happens below, the photo is not lost.
        photo.bytes = value.bytes();
        photo.storedBytes = photo.bytes.size();
        photo.outcome = AssetPhoto::Outcome::KeptAsStored;
    }
    const auto keep = [&photo](const QString& reason) {
        if (photo.outcome == AssetPhoto::Outcome::None) return photo;
        photo.reason = reason;
        return photo;
    };

    ensureFolder(beforeFolder());
    ensureFolder(afterFolder());
    if (containsFolderSeparator(name)) {
        return keep(QStringLiteral("o nome da foto \"%1\" contém um separador de pasta").arg(name));
    }
    const QString before = beforeFile(code, name);
    // Written from the bytes already read: a null photo gives an empty file without a fetch.
    // An original saved before (by an earlier run or pass) is never replaced.
    const BeforeFileSave saved = saveBeforeFile(before, photo.bytes);
    if (!saved.ok()) {
        return keep(QStringLiteral("o arquivo da foto original não pôde ser gravado (%1)")
                        .arg(saved.detail));
    }
    if (photo.outcome == AssetPhoto::Outcome::None) return photo;

    const std::optional<int> quality = assetStepQuality(qualityText);
    if (!quality) {
        return keep(QStringLiteral("a qualidade \"%1\" não é um número inteiro").arg(qualityText));
    }
    try {
        // The photo in memory is recompressed; the before file is its backup, not its source.
        // The workers may have recompressed it already, a few rows ago.
        std::optional<QByteArray> recompressed =
            photos.recompress(row, *quality, before, photo.bytes, afterFile(code, name));
        if (!recompressed) {
            return keep(QStringLiteral("o nome da foto \"%1\" não tem extensão").arg(name));
        }
        photo.bytes = std::move(*recompressed);
        photo.outcome = AssetPhoto::Outcome::Recompressed;
    } catch (const AppError& e) {
        return keep(QStringLiteral("a recompactação falhou (%1)").arg(e.message()));
    } catch (const std::exception& e) {
        return keep(
            QStringLiteral("a recompactação falhou (%1)").arg(QString::fromLocal8Bit(e.what())));
    }
    return photo;
}

QString keptPhotoLine(const QString& code, const QString& reason) {
    return QStringLiteral("Bem %1: foto importada como estava, sem recompactar: %2.")
        .arg(code, reason);
}

}  // namespace patrimonio
