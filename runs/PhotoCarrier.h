#pragma once
// The one way a photo goes through a run, the same for the asset step and the photo-only pass:
// the photo of an asset, known by its code, is taken from its row (read ahead by the workers'
// lookahead when it was), saved as it was stored in the before folder (never written over),
// recompressed into the after folder, and put into the row the run writes back. The two runs
// choose only what differs: the name rule for a stored name without an extension, and which
// row receives the photo. What a run does with the outcome (the log, the counters, the
// write-back) stays its own.

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

#include "core/RunHost.h"
#include "photos/Picture.h"
#include "runs/PhotoLookahead.h"
#include "runs/PhotoNames.h"

namespace patrimonio {

class Field;
class RecordSet;

struct CarriedPhoto {
    enum class Outcome {
        Recompressed,      // `recompressed` holds the new JPEG, written to the after file
        NoPhoto,           // nothing stored: an empty before file, nothing else
        FolderSeparator,   // the name would put the files in another folder: nothing written
        BeforeFileFailed,  // the photo as stored could not be saved: not touched
        NoQuality,         // the quality is not a whole number
        NoExtension,       // the name has no extension and was kept as stored
        RecompressionFailed,
    };
    Outcome outcome = Outcome::NoPhoto;
    QByteArray stored;  // the photo as its row holds it (empty: none)
    std::optional<QByteArray> recompressed;
    QString fileName;  // the photo name the files were named with
    QString madeName;  // the name made for a photo without an extension, else empty
    QString detail;    // the system's or the codec's reason, when there is one
    bool ok() const { return outcome == Outcome::Recompressed; }
};

class PhotoCarrier {
public:
    // Photos named by `rule` and recompressed at `quality` (none: the text typed is not a
    // whole number), on `workers` threads (0: one at a time on the run's thread).
    PhotoCarrier(NameWithoutExtension rule, std::optional<int> quality, int workers,
                 RunReport& host);

    // A new page or batch of `rows`, resting on its first row, whose photos, codes and names
    // are in these fields (none: the page has no such column); its first photos are read
    // ahead by prime().
    void startPage(RecordSet& rows, const Field* photo, const Field* code, const Field* name);
    void prime() { lookahead_.prime(); }
    // While held, the originals read ahead are not saved (PhotoLookahead::holdOriginals).
    void holdOriginals() { lookahead_.holdOriginals(); }
    void releaseOriginals() { lookahead_.releaseOriginals(); }
    void endPage() {
        lookahead_.endPage();
        rows_ = nullptr;
    }

    // The row of asset `code` is at hand: the photo read ahead from it becomes the row's own, as
    // if the row had read it, so that reading its other BLOBs does not read the photo again.
    void startRow(const QString& code);

    // Carries the photo of asset `code`, stored under `name`, on the row at hand: the photo
    // read ahead from that row, or else what `readStored` reads from it now (raising what it
    // raises). Never raises for a photo of its own. The picture recompressed is kept for
    // showing until the next call.
    CarriedPhoto carry(const QString& code, const QString& name,
                       const std::function<QByteArray()>& readStored);

    // The box-sized picture of the last photo recompressed (empty after a failure).
    PhotoView lastPicture() const;

    // The stored bytes read ahead and not yet taken.
    qint64 aheadBytes() const { return lookahead_.aheadBytes(); }

private:
    const NameWithoutExtension rule_;
    const std::optional<int> quality_;
    PhotoLookahead lookahead_;
    RecordSet* rows_ = nullptr;  // the page at hand
    Picture last_;
};

// Puts a photo into the row being inserted or edited: `bytes` into the field `photo`, as its
// column stores them, and a made name, when there is one, into `name`. Raises what the fields
// raise for a value their columns cannot take.
void putIntoRow(Field& photo, const QByteArray& bytes, Field* name = nullptr,
                const QString& madeName = {});

}  // namespace patrimonio
