#include "runs/PhotoLookahead.h"

#include <algorithm>
#include <exception>

#include "core/AppPaths.h"
#include "core/Text.h"
#include "db/RecordSet.h"
#include "photos/PhotoFiles.h"

namespace patrimonio {

namespace {

// How long one wait for the workers lasts before the window handles its events again.
constexpr int kWaitSliceMs = 15;

}  // namespace

int indexOfField(RecordSet& rows, const Field* field) {
    for (int i = 0; field && i < rows.fieldCount(); ++i)
        if (&rows.Fields(i) == field) return i;
    return -1;
}

PhotoLookahead::PhotoLookahead(int workers, RunReport& host) : pool_(workers), host_(host) {
    if (pool_.workers() > 0) saver_.emplace();
}

void PhotoLookahead::startPage(RecordSet& rows, const PhotoColumns& columns, int rowCount,
                               std::optional<int> Compressao) {
    endPage();
    rows_ = &rows;
    columns_ = columns;
    rowCount_ = rowCount;
    Compressao_ = Compressao;
}

void PhotoLookahead::releaseOriginals() {
    originalsHeld_ = false;
    for (const Original& original : heldOriginals_)
        saver_->queue(original.row, original.before, original.stored);
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
    rowCount_ = 0;
    Compressao_.reset();
}

void PhotoLookahead::readAhead(int currentRow) {
    if (!rows_ || columns_.photo < 0 || !Compressao_ || pool_.workers() == 0) return;
    nextAhead_ = std::max(nextAhead_, currentRow);
    // As far as the memory allows, and at least one photo per worker beyond the current row.
    const auto room = [&] {
        const int beyond = static_cast<int>(ahead_.size()) - (ahead_.count(currentRow) ? 1 : 0);
        return aheadBytes_ < kAheadBytes || beyond < pool_.workers();
    };
    for (; nextAhead_ < rowCount_ && room(); ++nextAhead_) {
        const int ahead = nextAhead_ - currentRow;
        QByteArray stored;
        try {
            stored = rows_->valueAhead(ahead, columns_.photo).bytes();
        } catch (const std::exception&) {
            // Whatever keeps a photo from being read is met again, and reported, when its row
            // is handled: nothing more is read ahead on this page.
            nextAhead_ = rowCount_;
            return;
        }
        if (stored.isEmpty()) continue;
        ahead_[nextAhead_] = {pool_.submit(*Compressao_, stored), *Compressao_, stored};
        aheadBytes_ += stored.size();
        // The original goes to the saver under the name its row will give it.
        const auto text = [&](int column) {
            return column < 0 ? QString() : rows_->valueAhead(ahead, column).toString();
        };
        const PhotoNames names =
            photoNamesOf(text(columns_.code), text(columns_.name), columns_.rule);
        if (names.leavesFolder) continue;
        // As the row itself would, before its first file.
        ensureFolder(beforeFolder());
        ensureFolder(afterFolder());
        if (originalsHeld_) {
            heldOriginals_.push_back({nextAhead_, names.before, stored});
        } else {
            saver_->queue(nextAhead_, names.before, stored);
        }
    }
}

void PhotoLookahead::waitFor(const std::function<bool(int)>& ready) {
    if (!ready(0)) host_.waitResponsive(ready);
}

BeforeFileSave PhotoLookahead::saveOriginal(int row, const QString& before,
                                            const QByteArray& stored) {
    if (saver_) {
        if (saver_->holds(row, before, stored)) {
            waitFor([&](int ms) { return saver_->waitFor(row, ms); });
            return *saver_->take(row);
        }
        // Read ahead as another photo or under another name: saved again here.
        saver_->drop(row);
    }
    return saveBeforeFile(before, stored);
}

RecompressedPhoto PhotoLookahead::takeOrRecompress(int row, int Compressao,
                                                   const QByteArray& stored) {
    // Rows passed over without their photo being wanted (a file that could not be written,
    // say) give their workers' results up.
    for (auto it = ahead_.begin(); it != ahead_.end() && it->first < row;) {
        pool_.discard(it->second.ticket);
        aheadBytes_ -= it->second.stored.size();
        it = ahead_.erase(it);
    }
    readAhead(row);

    const auto it = ahead_.find(row);
    if (it == ahead_.end()) return recompressInMemory(Compressao, stored);
    const Ahead ahead = it->second;
    ahead_.erase(it);
    aheadBytes_ -= ahead.stored.size();
    // The workers' result stands for this photo only if they had the same bytes at the same
    // quality; otherwise it is made again here.
    if (ahead.Compressao != Compressao ||
        (ahead.stored.constData() != stored.constData() && ahead.stored != stored)) {
        pool_.discard(ahead.ticket);
        return recompressInMemory(Compressao, stored);
    }
    waitFor([&](int ms) { return pool_.waitFor(ahead.ticket, ms); });
    return pool_.take(ahead.ticket);
}

std::optional<QByteArray> PhotoLookahead::recompress(int row, int Compressao,
                                                     const QString& AInFile,
                                                     const QByteArray& stored,
                                                     const QString& AOutFile) {
    last_ = Picture();
    // A before file without an extension is not a photo this step handles.
    if (trimmed(extensionOf(AInFile)).isEmpty()) return std::nullopt;
    RecompressedPhoto photo = takeOrRecompress(row, Compressao, stored);
    writeRecompressedFile(AOutFile, photo.jpeg);
    last_ = std::move(photo.picture);
    return std::move(photo.jpeg);
}

PhotoView PhotoLookahead::lastPicture() const {
    return {last_.width, last_.height, last_.rgb.empty() ? nullptr : last_.rgb.data()};
}

}  // namespace patrimonio
