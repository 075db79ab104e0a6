#pragma once
// The photo-only pass over PAT_BEM of the database reached through Con_Novo: every stored photo
// is saved as it is to the before folder, recompressed into the after folder and written back
// into its own row, 50 rows at a time. The pass does no window chores: it says how it ended,
// and the window gives back its buttons and opens the after folder.

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/RunCounters.h"
#include "core/RunHost.h"
#include "db/DataModule.h"
#include "photos/RecompressionPool.h"
#include "runs/PhotoBatches.h"

namespace patrimonio {

// How a pass ended, when it did not raise.
enum class PhotoPassEnd {
    NotStarted,  // no connection, or the codes to skip are not a list of whole numbers
    Stopped,     // stopped at the operator's request after a whole batch; the log view says
                 // where, and no summary is shown
    Finished,    // every batch handled and the summary shown
};

class PhotoCarrier;

class PhotoPass {
public:
    // The photos of a batch are recompressed on `photoWorkers` threads (0: one at a time on
    // the pass's thread).
    PhotoPass(DataModule& data, RunCounters& counters, RunHost& host,
              int photoWorkers = RecompressionPool::coreCount());
    ~PhotoPass();

    // One whole pass, from the start check to the summary. Raises on an error that ends it.
    PhotoPassEnd run();

    // Figures of the last pass: photos recompressed and written, photos that failed.
    int processed() const { return processed_; }
    int failed() const { return counters_.Erros; }
    // The stored bytes of the photos the last pass wrote back, before and after.
    std::int64_t bytesBefore() const { return bytesBefore_; }
    std::int64_t bytesAfter() const { return bytesAfter_; }

private:
    // The next batch from the pass's cursor; true when it was full (another batch follows).
    bool runBatch(const QString& skipList);
    void handleRowWithoutPhoto(int& i);
    void handleRowWithPhoto(int& i);
    // Puts the recompressed photo (and a made name) into the current row and posts it; a row
    // whose photo cannot be loaded is cancelled. Returns false when the load failed.
    bool putIntoCurrentRow(const QByteArray& Img, const QString& StrNewImageName);
    void writeBack(const QString& code);
    void logFailure(const QString& entry);
    // The log's line of what the pass gained, after the codes of the photos it could not
    // handle: the bytes of the photos it wrote, before and after, and the database file's size
    // at its start and now.
    void logGain();
    void finish();

    DataModule& data_;
    RunCounters& counters_;
    RunHost& host_;
    int photoWorkers_;
    std::unique_ptr<PhotoCarrier> photos_;  // during a pass
    PhotoBatches* batches_ = nullptr;       // of the pass under way
    int processed_ = 0;
    // The photos written back: their stored bytes before and after, and those of the row
    // waiting for its write-back.
    std::int64_t bytesBefore_ = 0;
    std::int64_t bytesAfter_ = 0;
    std::int64_t pendingBefore_ = 0;
    std::int64_t pendingAfter_ = 0;
    std::optional<std::int64_t> fileBytesAtStart_;  // none when the server could not say
};

// Texts the operator reads (the pass starts with kWaitingForPhotoEngine).
extern const QString kPhotoPassNoConnection;
extern const QString kPhotoPassLoading;
extern const QString kPhotoPassWorking;

// The summary at the end of a pass.
QString photoPassSummary(int processed, int failed);

}  // namespace patrimonio
