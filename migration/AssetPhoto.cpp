#include "migration/AssetPhoto.h"

#include <QFile>
#include <exception>
#include <optional>

#include "core/AppPaths.h"
#include "core/Errors.h"
#include "core/Text.h"
#include "db/RecordSet.h"
#include "photos/JpegRecompressor.h"

namespace patrimonio {

namespace {

// The quality box as a whole number; nothing when it holds anything else (empty included).
std::optional<int> qualityOf(const QString& text) {
    if (!isWholeNumber(text)) return std::nullopt;
    bool ok = false;
    const int quality = trimmed(text).toInt(&ok);
    if (!ok) return std::nullopt;
    return quality;
}

// A name holding a folder separator would put the files somewhere else than their folders.
bool hasFolderSeparator(const QString& name) {
    return name.contains(u'/') || name.contains(u'\\');
}

// Creates or overwrites the file with the bytes (none: an empty file); the error text on failure.
QString writeWholeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    return {};
}

}  // namespace

AssetPhoto carryAssetPhoto(const Field& stored, const QString& code, const QString& name,
                           const QString& qualityText) {
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
    if (hasFolderSeparator(name)) {
        return keep(QStringLiteral("o nome da foto \"%1\" contém um separador de pasta").arg(name));
    }
    const QString before = beforeFolder() + code + QStringLiteral("__") + name;
    const QString after = afterFolder() + code + QStringLiteral(" ") + name;
    // Written from the bytes already read: a null photo gives an empty file without a fetch.
    const QString unwritten = writeWholeFile(before, photo.bytes);
    if (!unwritten.isEmpty()) {
        return keep(
            QStringLiteral("o arquivo da foto original não pôde ser gravado (%1)").arg(unwritten));
    }
    if (photo.outcome == AssetPhoto::Outcome::None) return photo;

    const std::optional<int> quality = qualityOf(qualityText);
    if (!quality) {
        return keep(QStringLiteral("a qualidade \"%1\" não é um número inteiro").arg(qualityText));
    }
    try {
        std::optional<QByteArray> recompressed = SetJPGCompression(*quality, before, after);
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
