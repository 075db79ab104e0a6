#pragma once
// One photo on its way through a run, the same for the asset step and the photo-only pass: the
// name its files take, the check that the name keeps them in their folders, the photo as stored
// saved in the before folder (never written over), and the photo recompressed into the after
// folder. What a run does with the outcome (the row, the log, the counters) stays its own.

#include <QByteArray>
#include <QString>
#include <optional>

namespace patrimonio {

class PhotoLookahead;

// A stored photo name without an extension: the two runs differ here.
enum class NameWithoutExtension {
    KeptAsStored,  // no recompression: the photo stays as stored (asset step)
    GivenAName,    // a name is made for it and recompression goes on (photo-only pass)
};

// The names a photo's files take, found before anything is written.
struct PhotoNames {
    QString fileName;           // the photo name the files are named with
    QString madeName;           // the name made for a photo without an extension, else empty
    bool leavesFolder = false;  // the name holds a folder separator: nothing may be written
    QString before;             // the before file (empty when leavesFolder)
};
PhotoNames photoNamesOf(const QString& code, const QString& name, NameWithoutExtension rule);

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
    std::optional<QByteArray> recompressed;
    QString fileName;  // the photo name the files were named with
    QString madeName;  // the name made for a photo without an extension, else empty
    QString detail;    // the system's or the codec's reason, when there is one
    bool ok() const { return outcome == Outcome::Recompressed; }
};

// Carries the photo `stored` of asset `code`, stored under `name`, row `row` of the page that
// `photos` reads ahead, at `quality` (none: the text typed is not a whole number). Never raises
// for a photo of its own.
CarriedPhoto carryPhoto(PhotoLookahead& photos, int row, const QString& code, const QString& name,
                        const QByteArray& stored, std::optional<int> quality,
                        NameWithoutExtension rule);

}  // namespace patrimonio
