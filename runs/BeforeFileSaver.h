#pragma once
// The originals of the photos read ahead, saved in the before folder on a thread of its own, in
// row order, while the run's thread handles the rows before them. The run still takes each
// row's outcome before it touches the row, so an original is on disk before its photo is
// replaced, and a save that failed is reported at its own row as if it had been made there.
// Each row is known by its asset's code, which is part of its before file's name, so saving
// one ahead of the others changes no name another row takes.
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

    // Queues the original of asset `code`, `stored`, to be saved under `path` (saveBeforeFile)
    // once the rows queued before it are. The bytes are shared, not copied.
    void queue(const QString& code, const QString& path, const QByteArray& stored);

    // True when asset `code` was queued under `path` and not yet taken.
    bool holds(const QString& code, const QString& path) const;

    // True once asset `code`'s save is over, after waiting at most `milliseconds` (negative:
    // as long as it takes). True for an asset not queued.
    bool waitFor(const QString& code, int milliseconds);

    // Asset `code`'s outcome, waiting for it; nothing for an asset not queued. It is spent.
    std::optional<BeforeFileSave> take(const QString& code);

    // Drops asset `code` without taking it, removing the file this saver wrote for it.
    void drop(const QString& code);

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
    std::deque<QString> order_;       // assets waiting, in the order queued
    std::map<QString, Job> jobs_;
    std::optional<QString> running_;  // the asset being saved
    bool closing_ = false;
    std::thread thread_;
};

}  // namespace patrimonio
