#include "runs/PhotoCarrier.h"

#include <exception>

#include "core/AppPaths.h"
#include "core/Errors.h"
#include "core/Text.h"
#include "photos/JpegRecompressor.h"
#include "photos/PhotoFiles.h"
#include "runs/PhotoLookahead.h"

namespace patrimonio {

PhotoNames photoNamesOf(const QString& code, const QString& name, NameWithoutExtension rule) {
    PhotoNames names;
    names.fileName = name;
    if (rule == NameWithoutExtension::GivenAName && extensionOf(name).isEmpty()) {
        names.madeName = newImageName(name);
        if (!trimmed(names.madeName).isEmpty()) names.fileName = names.madeName;
    }
    // A name holding a folder separator would write the files outside their folders.
    names.leavesFolder = containsFolderSeparator(names.fileName);
    if (!names.leavesFolder) names.before = beforeFile(code, names.fileName);
    return names;
}

CarriedPhoto carryPhoto(PhotoLookahead& photos, int row, const QString& code, const QString& name,
                        const QByteArray& stored, std::optional<int> quality,
                        NameWithoutExtension rule) {
    using Outcome = CarriedPhoto::Outcome;
    CarriedPhoto photo;
    const PhotoNames names = photoNamesOf(code, name, rule);
    photo.fileName = names.fileName;
    photo.madeName = names.madeName;
    const auto fail = [&photo](Outcome outcome, const QString& detail = {}) {
        photo.outcome = outcome;
        photo.detail = detail;
        return photo;
    };

    ensureFolder(beforeFolder());
    ensureFolder(afterFolder());
    if (names.leavesFolder) return fail(Outcome::FolderSeparator);
    const QString& before = names.before;
    // The original is kept whole before anything replaces it, and never written over: a photo
    // without its backup is left as it is. A missing photo leaves an empty file. The saver
    // may have kept it already, a few rows ago.
    const BeforeFileSave saved = photos.saveOriginal(row, before, stored);
    if (!saved.ok()) return fail(Outcome::BeforeFileFailed, saved.detail);
    if (stored.isEmpty()) return fail(Outcome::NoPhoto);
    if (!quality) return fail(Outcome::NoQuality);
    try {
        // The photo in memory is recompressed; the before file is its backup, not its source.
        // The workers may have recompressed it already, a few rows ago.
        photo.recompressed =
            photos.recompress(row, *quality, before, stored, afterFile(code, photo.fileName));
    } catch (const AppError& e) {
        return fail(Outcome::RecompressionFailed, e.message());
    } catch (const std::exception& e) {
        return fail(Outcome::RecompressionFailed, QString::fromLocal8Bit(e.what()));
    }
    if (!photo.recompressed) return fail(Outcome::NoExtension);
    photo.outcome = Outcome::Recompressed;
    return photo;
}

}  // namespace patrimonio
