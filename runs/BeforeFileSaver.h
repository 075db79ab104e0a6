#pragma once
// The originals of the photos read ahead, saved in the before folder on a thread of its own, in
// row order, while the run's thread handles the rows before them. The run still takes each
// row's outcome before it touches the row, so an original is on disk before its photo is
// replaced, and a save that failed is reported at its own row as if it had been made there.
// Each row has a before file of its own name (the asset code is part of it), so saving one
// ahead of the others changes no name another row takes.
//
// A run that ends before it reaches a row whose original was saved ahead (an error ends the
// page) leaves no trace of it: the files this saver wrote for rows never taken are removed
// again. They are copies made moments ago of photos still stored, so nothing is lost by it.

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "photos/PhotoFiles.h"

namespace patrimonio {

class BeforeFileSaver {
public:
    BeforeFileSaver();
    // Forgets every row not taken (as forgetUntaken does) and ends the thread.
    ~BeforeFileSaver();
    BeforeFileSaver(const BeforeFileSaver&) = delete;
    BeforeFileSaver& operator=(const BeforeFileSaver&) = delete;

    // Queues the original of row `row`, `stored`, to be saved under `path` (saveBeforeFile)
    // once the rows queued before it are. The bytes are shared, not copied.
    void queue(int row, const QString& path, const QByteArray& stored);

    // True when row `row` was queued under `path` with these bytes and not yet taken.
    bool holds(int row, const QString& path, const QByteArray& stored) const;

    // True once row `row`'s save is over, after waiting at most `milliseconds` (negative: as
    // long as it takes). True for a row not queued.
    bool waitFor(int row, int milliseconds);

    // Row `row`'s outcome, waiting for it; nothing for a row not queued. The row is spent.
    std::optional<BeforeFileSave> take(int row);

    // Drops row `row` without taking it, removing the file this saver wrote for it.
    void drop(int row);

    // Drops the rows not taken: those not started are never saved, those saved are removed
    // when this saver wrote their file (an original already on disk stays).
    void forgetUntaken();

    // Rows queued and not taken.
    int held() const;

private:
    struct Job {
        QString path;
        QByteArray stored;  // shared with the row read ahead: no copy is held
        bool done = false;
        BeforeFileSave saved;
    };

    void work();
    // Removes the file a finished job wrote.
    static void undo(const Job& job);

    mutable std::mutex mutex_;
    std::condition_variable queued_;  // a row was queued, or the saver is closing
    std::condition_variable saved_;   // a row's save is over
    std::deque<int> order_;           // rows waiting, in the order queued
    std::map<int, Job> jobs_;
    int running_ = -1;  // the row being saved, or -1
    bool closing_ = false;
    std::thread thread_;
};

}  // namespace patrimonio
