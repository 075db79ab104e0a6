#include "runs/PhotoLookahead.h"

#include <algorithm>
#include <exception>

#include "core/AppPaths.h"
#include "db/RecordSet.h"

namespace patrimonio {

PhotoLookahead::PhotoLookahead(int workers, std::optional<int> quality, NameWithoutExtension rule,
                               RunReport& host)
    : pool_(workers), quality_(quality), rule_(rule), host_(host) {
    if (pool_.workers() > 0) saver_.emplace();
}

void PhotoLookahead::startPage(RecordSet& rows, const PhotoColumns& columns) {
    endPage();
    rows_ = &rows;
    columns_ = columns;
    if (columns_.photo < 0 || columns_.code < 0 || !quality_ || pool_.workers() == 0) return;
    const int rowCount = rows.RecordCount();
    codes_.reserve(rowCount);
    for (int row = 0; row < rowCount; ++row) {
        const QString code = rows.valueAhead(row, columns_.code).toString();
        codes_.push_back(code);
        const auto [it, added] = rowOf_.emplace(code, row);
        if (!added) it->second = -1;
    }
}

void PhotoLookahead::releaseOriginals() {
    originalsHeld_ = false;
    for (const Original& original : heldOriginals_)
        saver_->queue(original.code, original.before, original.stored);
    heldOriginals_.clear();
}

void PhotoLookahead::prime() {
    readAhead(0);
}

void PhotoLookahead::endPage() {
    for (const auto& [row, ahead] : ahead_) pool_.discard(ahead.ticket);
    ahead_.clear();
    aheadBytes_ = 0;
    if (saver_) saver_->forgetUntaken();
    originalsHeld_ = false;
    heldOriginals_.clear();
    nextAhead_ = 0;
    rows_ = nullptr;
    columns_ = PhotoColumns();
    codes_.clear();
    rowOf_.clear();
}

void PhotoLookahead::readAhead(int currentRow) {
    if (codes_.empty()) return;
    const int rowCount = static_cast<int>(codes_.size());
    nextAhead_ = std::max(nextAhead_, currentRow);
    // As far as the memory allows, and at least one photo per worker beyond the current row.
    const auto room = [&] {
        const int beyond = static_cast<int>(ahead_.size()) - (ahead_.count(currentRow) ? 1 : 0);
        return aheadBytes_ < kAheadBytes || beyond < pool_.workers();
    };
    for (; nextAhead_ < rowCount && room(); ++nextAhead_) {
        const QString& code = codes_[nextAhead_];
        if (rowOf_.at(code) != nextAhead_) continue;
        const int ahead = nextAhead_ - currentRow;
        QByteArray stored;
        try {
            stored = rows_->valueAhead(ahead, columns_.photo).bytes();
        } catch (const std::exception&) {
            // Whatever keeps a photo from being read is met again, and reported, when its row
            // is handled: nothing more is read ahead on this page.
            nextAhead_ = rowCount;
            return;
        }
        if (stored.isEmpty()) continue;
        ahead_[nextAhead_] = {pool_.submit(*quality_, stored), stored};
        aheadBytes_ += stored.size();
        // The original goes to the saver under the name its row will give it.
        const QString name =
            columns_.name < 0 ? QString() : rows_->valueAhead(ahead, columns_.name).toString();
        const PhotoNames names = photoNamesOf(code, name, rule_);
        if (names.leavesFolder) continue;
        // As the row itself would, before its first file.
        ensureFolder(beforeFolder());
        ensureFolder(afterFolder());
        if (originalsHeld_) {
            heldOriginals_.push_back({code, names.before, stored});
        } else {
            saver_->queue(code, names.before, stored);
        }
    }
}

void PhotoLookahead::waitFor(const std::function<bool(int)>& ready) {
    if (!ready(0)) host_.waitResponsive(ready);
}

std::optional<QByteArray> PhotoLookahead::storedAhead(const QString& code) const {
    const auto row = rowOf_.find(code);
    if (row == rowOf_.end()) return std::nullopt;
    const auto it = ahead_.find(row->second);
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
    if (row < 0) return recompressInMemory(*quality_, stored);
    // Rows passed over without their photo being wanted (a file that could not be written,
    // say) give their workers' results up.
    for (auto it = ahead_.begin(); it != ahead_.end() && it->first < row;) {
        pool_.discard(it->second.ticket);
        aheadBytes_ -= it->second.stored.size();
        it = ahead_.erase(it);
    }
    readAhead(row);

    const auto it = ahead_.find(row);
    if (it == ahead_.end()) return recompressInMemory(*quality_, stored);
    const Ahead ahead = it->second;
    ahead_.erase(it);
    aheadBytes_ -= ahead.stored.size();
    waitFor([&](int ms) { return pool_.waitFor(ahead.ticket, ms); });
    return pool_.take(ahead.ticket);
}

}  // namespace patrimonio
