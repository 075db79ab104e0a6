#include "runs/PhotoCarrier.h"

#include <exception>

#include "core/AppPaths.h"
#include "core/Errors.h"
#include "core/Text.h"
#include "db/RecordSet.h"
#include "photos/JpegRecompressor.h"
#include "photos/PhotoFiles.h"

namespace patrimonio {

namespace {

// The position of `field` among the fields of `rows`; -1 for none.
int indexOfField(RecordSet& rows, const Field* field) {
    for (int i = 0; field && i < rows.fieldCount(); ++i)
        if (&rows.Fields(i) == field) return i;
    return -1;
}

}  // namespace

PhotoCarrier::PhotoCarrier(NameWithoutExtension rule, std::optional<int> quality, int workers,
                           RunReport& host)
    : rule_(rule), quality_(quality), lookahead_(workers, quality, rule, host) {}

void PhotoCarrier::startPage(RecordSet& rows, const Field* photo, const Field* code,
                             const Field* name) {
    rows_ = &rows;
    lookahead_.startPage(
        rows, {indexOfField(rows, photo), indexOfField(rows, code), indexOfField(rows, name)});
}

void PhotoCarrier::startRow(const QString& code) {
    const int column = lookahead_.photoColumn();
    if (!rows_ || column < 0) return;
    if (const std::optional<QByteArray> stored = lookahead_.storedAhead(code))
        rows_->giveBlob(column, blobValue(lookahead_.photoType(), *stored));
}

CarriedPhoto PhotoCarrier::carry(const QString& code, const QString& name,
                                 const std::function<QByteArray()>& readStored) {
    using Outcome = CarriedPhoto::Outcome;
    last_ = Picture();
    CarriedPhoto photo;
    // The photo read ahead is the one this row held when its page was read.
    const std::optional<QByteArray> ahead = lookahead_.storedAhead(code);
    photo.stored = ahead ? *ahead : readStored();
    const PhotoNames names = photoNamesOf(code, name, rule_);
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
    // The original is kept whole before anything replaces it, and never written over: a photo
    // without its backup is left as it is. A missing photo leaves an empty file. The saver
    // may have kept it already, a few rows ago.
    const BeforeFileSave saved = lookahead_.saveOriginal(code, names.before, photo.stored);
    if (!saved.ok()) return fail(Outcome::BeforeFileFailed, saved.detail);
    if (photo.stored.isEmpty()) return fail(Outcome::NoPhoto);
    if (!quality_) return fail(Outcome::NoQuality);
    // A before file without an extension is not a photo to recompress.
    if (trimmed(extensionOf(names.before)).isEmpty()) return fail(Outcome::NoExtension);
    try {
        // The photo in memory is recompressed; the before file is its backup, not its source.
        // The workers may have recompressed it already, a few rows ago.
        RecompressedPhoto recompressed = lookahead_.recompress(code, photo.stored);
        writeRecompressedFile(afterFile(code, photo.fileName), recompressed.jpeg);
        last_ = std::move(recompressed.picture);
        photo.recompressed = std::move(recompressed.jpeg);
    } catch (const AppError& e) {
        return fail(Outcome::RecompressionFailed, e.message());
    } catch (const std::exception& e) {
        return fail(Outcome::RecompressionFailed, QString::fromLocal8Bit(e.what()));
    }
    photo.outcome = Outcome::Recompressed;
    return photo;
}

PhotoView PhotoCarrier::lastPicture() const {
    return {last_.width, last_.height, last_.rgb.empty() ? nullptr : last_.rgb.data()};
}

void putIntoRow(Field& photo, const QByteArray& bytes, Field* name, const QString& madeName) {
    // The made name is stored as it is, FOTO001.jpg; the value is a parameter, not SQL text.
    if (name && !trimmed(madeName).isEmpty()) name->setAsString(madeName);
    // The bytes go to the row as they are, shared rather than copied through a stream.
    photo.setAsVariant(blobValue(photo.dataType(), bytes));
}

}  // namespace patrimonio
