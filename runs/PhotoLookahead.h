#pragma once
// The photos of a page or batch recompressed on the worker threads while the run's own thread
// handles the rows in order. The photos of the next rows are read from the record set, without
// moving its cursor, and handed to the workers, and their originals to a saver that keeps them
// in the before folder (runs/BeforeFileSaver.h), both off the run's thread; when the run reaches
// an asset it takes that asset's photo and outcomes, waiting with the window alive if they are
// not ready. Everything is known by the asset's code, so what the run takes is the photo that
// was read from that asset's row. Everything the run does with them (the after file, log
// lines, the row, the counters) stays on its own thread and in row order, so a run with
// workers does exactly what a run without them does.
//
// A page is read ahead as soon as it is loaded (prime), before the pause that opens it: the
// workers recompress while the run waits and the database is quiet. How far ahead is bounded
// by memory: the stored photos read ahead and not yet reached hold at most kAheadBytes (at
// least one photo per worker beyond the current row, whatever their size), and each of them
// may add its recompressed JPEG and its box-sized picture once done (about 1 MB for a camera
// photo wider than high, 1.5 MB for an upright one). Each worker adds one codec's buffers.

#include <QByteArray>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "core/RunHost.h"
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

    // `workers` threads (0: every photo recompressed on the run's thread when its row is
    // handled, one at a time), at `quality` (none: nothing is read ahead); the files of a
    // photo read ahead are named by `rule`.
    PhotoLookahead(int workers, std::optional<int> quality, NameWithoutExtension rule,
                   RunReport& host);

    // A new page or batch: `rows` rests on its first row.
    void startPage(RecordSet& rows, const PhotoColumns& columns);

    // Until releaseOriginals, the originals of the photos read ahead wait to be saved: a page
    // read ahead while the last one is written back leaves no file if the run stops there.
    void holdOriginals() { originalsHeld_ = true; }
    void releaseOriginals();

    // Reads the page's first photos ahead, as far as memory allows, and hands them on; the
    // run's thread then waits or pauses while the workers and the saver go on.
    void prime();

    // The stored photo of asset `code` as read ahead from its row, or nothing when it was not
    // (no photo, not reached yet, or its read failed: the row then reads it itself).
    std::optional<QByteArray> storedAhead(const QString& code) const;

    // The original of asset `code`, `stored`, saved under `before`: by the saver when it had
    // this asset's photo under this name, else here and now (saveBeforeFile).
    BeforeFileSave saveOriginal(const QString& code, const QString& before,
                                const QByteArray& stored);

    // Asset `code`'s photo `stored` recompressed at the run's quality (there is one): by the
    // workers when they had it, else here. Raises what the recompression raises.
    RecompressedPhoto recompress(const QString& code, const QByteArray& stored);

    // Drops whatever is read ahead or being recompressed; the originals saved ahead for rows
    // the run did not reach are removed again.
    void endPage();

    // The stored bytes read ahead and not yet taken.
    qint64 aheadBytes() const { return aheadBytes_; }

private:
    struct Ahead {
        RecompressionPool::Ticket ticket = 0;
        QByteArray stored;
    };

    void readAhead(int currentRow);
    // Waits with the window alive until `ready(ms)` says so.
    void waitFor(const std::function<bool(int)>& ready);

    RecompressionPool pool_;
    const std::optional<int> quality_;
    const NameWithoutExtension rule_;
    RunReport& host_;
    std::optional<BeforeFileSaver> saver_;  // with workers only
    RecordSet* rows_ = nullptr;
    PhotoColumns columns_;
    // The page's codes in row order; a code met twice in a page is never read ahead, so that
    // what an asset takes is always its own row's photo.
    std::vector<QString> codes_;
    std::map<QString, int> rowOf_;  // -1: met twice
    int nextAhead_ = 0;             // the first row not read ahead yet
    std::map<int, Ahead> ahead_;
    qint64 aheadBytes_ = 0;
    bool originalsHeld_ = false;
    struct Original {
        QString code;
        QString before;
        QByteArray stored;
    };
    std::vector<Original> heldOriginals_;  // in row order
};

}  // namespace patrimonio
