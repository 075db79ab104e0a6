#pragma once
// The photos of a page or batch recompressed on the worker threads while the run's own thread
// handles the rows in order. Before the run handles a row with a photo, the photos of the next
// rows (one per worker) are read from the record set, without moving its cursor, and handed to
// the workers; when the run reaches a row it takes that row's result, waiting with the window
// alive if the workers are not done. Everything the run does with a result (files, log lines,
// the row, the counters) stays on its own thread and in row order, so a run with workers does
// exactly what a run without them does. Memory grows by one stored photo and one codec's buffers
// per worker.

#include <QByteArray>
#include <QString>
#include <map>
#include <optional>

#include "core/RunHost.h"
#include "photos/JpegRecompressor.h"
#include "photos/RecompressionPool.h"

namespace patrimonio {

class Field;
class RecordSet;

// The position of `field` among the fields of `rows`; -1 for none.
int indexOfField(RecordSet& rows, const Field* field);

class PhotoLookahead {
public:
    // `workers` threads (0: every photo recompressed on the run's thread when its row is
    // handled, one at a time).
    PhotoLookahead(int workers, RunReport& host);

    // A new page or batch: `rows` rests on its first row, of `rowCount`; `photoField` is the
    // index of the photo column. No quality: nothing is read ahead.
    void startPage(RecordSet& rows, int photoField, int rowCount, std::optional<int> Compressao);

    // What SetJPGCompression gives for this row (the record set's current row, `row` of the
    // page), whose stored photo is `stored`: nothing when AInFile has no extension; else the
    // photo recompressed at Compressao (by the workers when they had this photo at this
    // quality, else here) and written to AOutFile. Raises what SetJPGCompression raises. The
    // picture recompressed is kept for showing until the next call.
    std::optional<QByteArray> recompress(int row, int Compressao, const QString& AInFile,
                                         const QByteArray& stored, const QString& AOutFile);

    // The box-sized picture of the last photo recompressed (empty after a failure).
    PhotoView lastPicture() const;

    // Drops whatever is read ahead or being recompressed.
    void endPage();

private:
    struct Ahead {
        RecompressionPool::Ticket ticket = 0;
        int Compressao = 0;
        QByteArray stored;
    };

    void readAhead(int currentRow, int upTo);
    RecompressedPhoto takeOrRecompress(int row, int Compressao, const QByteArray& stored);

    RecompressionPool pool_;
    RunReport& host_;
    RecordSet* rows_ = nullptr;
    int photoField_ = -1;
    int rowCount_ = 0;
    std::optional<int> Compressao_;
    int nextAhead_ = 0;  // the first row not read ahead yet
    std::map<int, Ahead> ahead_;
    Picture last_;
};

}  // namespace patrimonio
