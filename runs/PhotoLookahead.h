#pragma once
// The photos of a page or batch read ahead and recompressed off the run's thread while the
// run's own thread handles the rows in order. A reader thread reads the photos of the next rows
// by their ids in the page's own snapshot (db/PageBlobs.h) and hands each to the workers, and
// its original to a saver that keeps it in the before folder (runs/BeforeFileSaver.h); when
// the run reaches an asset it takes that asset's photo and outcomes, waiting with the window
// alive if they are not ready. Everything is known by the asset's code, so what the run takes
// is the photo that was read from that asset's row, as it was when the page was read.
// Everything the run does with them (the after file, log lines, the row, the counters) stays
// on its own thread and in row order, so a run with workers does exactly what a run without
// them does.
//
// A page is read ahead as soon as it is loaded (prime), before the pause that opens it: the
// workers recompress while the run waits and the database is quiet. How far ahead is bounded
// by memory: the stored photos read ahead and not yet reached hold at most kAheadBytes (at
// least one photo per worker beyond the current row, whatever their size), and each of them
// may add its recompressed JPEG and its box-sized picture once done (about 1 MB for a camera
// photo wider than high, 1.5 MB for an upright one). Each worker adds one codec's buffers.

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/RunHost.h"
#include "db/PageBlobs.h"
#include "photos/JpegRecompressor.h"
#include "photos/PhotoFiles.h"
#include "photos/RecompressionPool.h"
#include "runs/BeforeFileSaver.h"
#include "runs/PhotoNames.h"

namespace patrimonio {

class RecordSet;

// The columns of a page the photos are read from; -1 for a column the page does not have.
struct PhotoColumns {
    int photo = -1;
    int code = -1;
    int name = -1;
};

class PhotoLookahead {
public:
    // The stored photos read ahead of the current row hold at most this many bytes.
    static constexpr qint64 kAheadBytes = 96 * 1024 * 1024;

    // `workers` threads (0: every photo read and recompressed on the run's thread when its row
    // is handled, one at a time), at `quality` (none: nothing is read ahead); the files of a
    // photo read ahead are named by `rule`.
    PhotoLookahead(int workers, std::optional<int> quality, NameWithoutExtension rule,
                   RunReport& host);
    ~PhotoLookahead();
    PhotoLookahead(const PhotoLookahead&) = delete;
    PhotoLookahead& operator=(const PhotoLookahead&) = delete;

    // A new page or batch: `rows` rests on its first row.
    void startPage(RecordSet& rows, const PhotoColumns& columns);

    // Until releaseOriginals, the originals of the photos read ahead wait to be saved: a page
    // read ahead while the last one is written back leaves no file if the run stops there.
    void holdOriginals();
    void releaseOriginals();

    // Starts reading the page's photos ahead, as far as memory allows; the run's thread then
    // waits or pauses while the reader, the workers and the saver go on.
    void prime();

    // The field of the page's photos and their type; -1 when nothing is read ahead.
    int photoColumn() const { return codes_.empty() ? -1 : photoColumn_; }
    FieldType photoType() const { return blobs_.type(); }

    // The stored photo of asset `code` as read ahead from its row, waiting for the reader if
    // it has not reached it yet; nothing when it was not read ahead (no photo, or its read
    // failed: the row then reads it itself and meets the failure there). The rows before it
    // are passed: what was read ahead for them is dropped.
    std::optional<QByteArray> storedAhead(const QString& code);

    // The original of asset `code`, `stored`, saved under `before`: by the saver when it had
    // this asset's photo under this name, else here and now (saveBeforeFile).
    BeforeFileSave saveOriginal(const QString& code, const QString& before,
                                const QByteArray& stored);

    // Asset `code`'s photo `stored` recompressed at the run's quality (there is one): by the
    // workers when they had it, else here. Raises what the recompression raises.
    RecompressedPhoto recompress(const QString& code, const QByteArray& stored);

    // Stops the reader and drops whatever is read ahead or being recompressed; the originals
    // saved ahead for rows the run did not reach are removed again.
    void endPage();

    // The stored bytes read ahead and not yet taken.
    qint64 aheadBytes() const;

private:
    struct Ahead {
        RecompressionPool::Ticket ticket = 0;
        QByteArray stored;
    };
    struct Original {
        QString code;
        QString before;
        QByteArray stored;
    };

    void read();  // the reader thread
    // Reads row `row`'s photo and hands it on; false when it could not be read.
    bool readRow(int row);
    bool room(int currentRow) const;  // under mutex_
    int currentRow() const;
    void passRowsBefore(int row);  // under mutex_
    void waitFor(const std::function<bool(int)>& ready);

    RecompressionPool pool_;
    const std::optional<int> quality_;
    const NameWithoutExtension rule_;
    RunReport& host_;
    std::optional<BeforeFileSaver> saver_;  // with workers only

    // The page, fixed while its reader runs. Its codes in row order; a code met twice in a
    // page is never read ahead, so that what an asset takes is always its own row's photo.
    PageBlobs blobs_;
    int photoColumn_ = -1;
    std::vector<QString> codes_;
    std::vector<PhotoNames> names_;
    std::map<QString, int> rowOf_;  // -1: met twice

    mutable std::mutex mutex_;
    std::condition_variable changed_;  // a photo read, taken or dropped; the reader ends
    int current_ = 0;                  // the row the run is at
    int read_ = 0;                     // the rows the reader is done with
    bool readerDone_ = true;
    bool stopping_ = false;
    std::map<int, Ahead> ahead_;
    qint64 aheadBytes_ = 0;
    bool originalsHeld_ = false;
    std::vector<Original> heldOriginals_;  // in row order
    std::thread reader_;
};

}  // namespace patrimonio
