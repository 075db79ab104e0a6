#pragma once
// The photo of one asset on its way from the source row to the target row: saved as stored in
// the before folder, recompressed into the after folder, and what the target row receives.

#include <QByteArray>
#include <QString>

namespace patrimonio {

class Field;
class PhotoLookahead;

struct AssetPhoto {
    enum class Outcome {
        None,          // no photo stored (null or empty): the target's photo stays null
        Recompressed,  // bytes hold the recompressed JPEG
        KeptAsStored,  // could not be recompressed: bytes hold the photo exactly as stored
    };
    Outcome outcome = Outcome::None;
    QByteArray bytes;        // what the target row receives (empty for None)
    qint64 storedBytes = 0;  // size of the photo as stored
    QString reason;          // why a photo was kept as stored
};

// Carries the photo held in `stored` for the asset `code` whose photo is named `name`, row
// `row` of the page: writes the before file (an empty one when there is no photo), reads the
// quality from `qualityText` and recompresses into the after file, through `photos` (which
// may have had the workers recompress it already). Never raises for a photo of its own:
// whatever stops the recompression keeps the photo as stored, with the reason.
AssetPhoto carryAssetPhoto(const Field& stored, const QString& code, const QString& name,
                           const QString& qualityText, PhotoLookahead& photos, int row);

// The log line of a photo kept as stored.
QString keptPhotoLine(const QString& code, const QString& reason);

}  // namespace patrimonio
