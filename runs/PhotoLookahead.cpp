#include "runs/PhotoLookahead.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "core/AppPaths.h"
#include "core/ThreadPriority.h"
#include "db/RecordSet.h"

namespace patrimonio {

PhotoLookahead::PhotoLookahead(int workers, std::optional<int> quality, NameWithoutExtension rule,
                               RunReport& host)
    : pool_(workers), quality_(quality), rule_(rule), host_(host) {
    if (pool_.workers() > 0) saver_.emplace();
}

PhotoLookahead::~PhotoLookahead() {
    endPage();
}

void PhotoLookahead::startPage(RecordSet& rows, const PhotoColumns& columns) {
    endPage();
    if (columns.photo < 0 || columns.code < 0 || !quality_ || pool_.workers() == 0) return;
    blobs_ = PageBlobs::of(rows, columns.photo);
    if (!blobs_.any()) return;
    photoColumn_ = columns.photo;
    const int rowCount = blobs_.rowCount();
    codes_.reserve(rowCount);
    names_.reserve(rowCount);
    for (int row = 0; row < rowCount; ++row) {
        const QString code = rows.valueAhead(row, columns.code).toString();
        const QString name =
            columns.name < 0 ? QString() : rows.valueAhead(row, columns.name).toString();
        codes_.push_back(code);
        // The original goes to the saver under the name its row will give it.
        names_.push_back(photoNamesOf(code, name, rule_));
        const auto [it, added] = rowOf_.emplace(code, row);
        if (!added) it->second = -1;
    }
}

void PhotoLookahead::holdOriginals() {
    std::lock_guard lock(mutex_);
    originalsHeld_ = true;
}

void PhotoLookahead::releaseOriginals() {
    std::lock_guard lock(mutex_);
    originalsHeld_ = false;
    for (const Original& original : heldOriginals_)
        saver_->queue(original.code, original.before, original.stored);
    heldOriginals_.clear();
}

void PhotoLookahead::prime() {
    if (codes_.empty() || reader_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        readerDone_ = false;
        stopping_ = false;
    }
    reader_ = std::thread([this] {
        giveWayToTheWindow();
        read();
    });
}

void PhotoLookahead::endPage() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) reader_.join();
    for (const auto& [row, ahead] : ahead_) pool_.discard(ahead.ticket);
    ahead_.clear();
    aheadBytes_ = 0;
    if (saver_) saver_->forgetUntaken();
    originalsHeld_ = false;
    heldOriginals_.clear();
    current_ = 0;
    read_ = 0;
    readerDone_ = true;
    blobs_ = PageBlobs();
    codes_.clear();
    names_.clear();
    rowOf_.clear();
}

qint64 PhotoLookahead::aheadBytes() const {
    std::lock_guard lock(mutex_);
    return aheadBytes_;
}

// As far as the memory allows, and at least one photo per worker beyond the current row.
bool PhotoLookahead::room(int currentRow) const {
    const int beyond = static_cast<int>(ahead_.size()) - (ahead_.count(currentRow) ? 1 : 0);
    return aheadBytes_ < kAheadBytes || beyond < pool_.workers();
}

void PhotoLookahead::read() {
    const int rowCount = static_cast<int>(codes_.size());
    for (int row = 0; row < rowCount; ++row) {
        bool passed = false;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || row < current_ || room(current_); });
            if (stopping_) break;
            passed = row < current_;
        }
        // A row the run has passed already is not read.
        const bool goOn = passed || readRow(row);
        {
            std::lock_guard lock(mutex_);
            read_ = row + 1;
        }
        changed_.notify_all();
        if (!goOn) break;
    }
    {
        std::lock_guard lock(mutex_);
        readerDone_ = true;
    }
    changed_.notify_all();
}

bool PhotoLookahead::readRow(int row) {
    const QString& code = codes_[row];
    if (rowOf_.at(code) != row || blobs_.isNull(row)) return true;
    QByteArray stored;
    try {
        stored = blobs_.read(row);
    } catch (const std::exception&) {
        // Whatever keeps a photo from being read is met again, and reported, when its row is
        // handled: nothing more is read ahead on this page.
        return false;
    }
    if (stored.isEmpty()) return true;
    const PhotoNames& names = names_[row];
    if (!names.leavesFolder) {
        // As the row itself would, before its first file.
        ensureFolder(beforeFolder());
        ensureFolder(afterFolder());
    }
    const RecompressionPool::Ticket ticket = pool_.submit(*quality_, stored);
    std::lock_guard lock(mutex_);
    if (row < current_) {
        // The run passed this row while it was read: nothing of it is wanted.
        pool_.discard(ticket);
        return true;
    }
    ahead_[row] = {ticket, stored};
    aheadBytes_ += stored.size();
    if (names.leavesFolder) return true;
    if (originalsHeld_) {
        heldOriginals_.push_back({code, names.before, stored});
    } else {
        saver_->queue(code, names.before, stored);
    }
    return true;
}

void PhotoLookahead::passRowsBefore(int row) {
    // Rows passed over without their photo being wanted (a file that could not be written,
    // say) give their workers' results up.
    current_ = std::max(current_, row);
    for (auto it = ahead_.begin(); it != ahead_.end() && it->first < row;) {
        pool_.discard(it->second.ticket);
        aheadBytes_ -= it->second.stored.size();
        it = ahead_.erase(it);
    }
}

void PhotoLookahead::waitFor(const std::function<bool(int)>& ready) {
    if (!ready(0)) host_.waitResponsive(ready);
}

std::optional<QByteArray> PhotoLookahead::storedAhead(const QString& code) {
    const auto known = rowOf_.find(code);
    if (known == rowOf_.end() || known->second < 0) return std::nullopt;
    const int row = known->second;
    {
        std::lock_guard lock(mutex_);
        passRowsBefore(row);
    }
    changed_.notify_all();
    waitFor([&](int ms) {
        std::unique_lock lock(mutex_);
        const auto over = [&] { return readerDone_ || read_ > row; };
        if (ms < 0) {
            changed_.wait(lock, over);
            return true;
        }
        return changed_.wait_for(lock, std::chrono::milliseconds(ms), over);
    });
    std::lock_guard lock(mutex_);
    const auto it = ahead_.find(row);
    if (it == ahead_.end()) return std::nullopt;
    return it->second.stored;
}

BeforeFileSave PhotoLookahead::saveOriginal(const QString& code, const QString& before,
                                            const QByteArray& stored) {
    if (saver_) {
        if (saver_->holds(code, before)) {
            waitFor([&](int ms) { return saver_->waitFor(code, ms); });
            return *saver_->take(code);
        }
        // Read ahead under another name: saved again here.
        saver_->drop(code);
    }
    return saveBeforeFile(before, stored);
}

RecompressedPhoto PhotoLookahead::recompress(const QString& code, const QByteArray& stored) {
    const auto known = rowOf_.find(code);
    const int row = known == rowOf_.end() ? -1 : known->second;
    std::optional<Ahead> ahead;
    if (row >= 0) {
        std::lock_guard lock(mutex_);
        passRowsBefore(row);
        const auto it = ahead_.find(row);
        if (it != ahead_.end()) {
            ahead = it->second;
            ahead_.erase(it);
            aheadBytes_ -= ahead->stored.size();
        }
    }
    changed_.notify_all();
    if (!ahead) return recompressInMemory(*quality_, stored);
    waitFor([&](int ms) { return pool_.waitFor(ahead->ticket, ms); });
    return pool_.take(ahead->ticket);
}

}  // namespace patrimonio
