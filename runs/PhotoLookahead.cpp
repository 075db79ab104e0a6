#include "runs/PhotoLookahead.h"

#include <algorithm>
#include <exception>

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

PhotoLookahead::PhotoLookahead(int workers, RunReport& host) : pool_(workers), host_(host) {}

void PhotoLookahead::startPage(RecordSet& rows, int photoField, int rowCount,
                               std::optional<int> Compressao) {
    endPage();
    rows_ = &rows;
    photoField_ = photoField;
    rowCount_ = rowCount;
    Compressao_ = Compressao;
}

void PhotoLookahead::endPage() {
    for (const auto& [row, ahead] : ahead_) pool_.discard(ahead.ticket);
    ahead_.clear();
    nextAhead_ = 0;
    rows_ = nullptr;
    photoField_ = -1;
    rowCount_ = 0;
    Compressao_.reset();
}

void PhotoLookahead::readAhead(int currentRow, int upTo) {
    if (!rows_ || photoField_ < 0 || !Compressao_ || pool_.workers() == 0) return;
    nextAhead_ = std::max(nextAhead_, currentRow);
    for (; nextAhead_ < upTo && nextAhead_ < rowCount_; ++nextAhead_) {
        QByteArray stored;
        try {
            stored = rows_->valueAhead(nextAhead_ - currentRow, photoField_).bytes();
        } catch (const std::exception&) {
            // Whatever keeps a photo from being read is met again, and reported, when its row
            // is handled: nothing more is read ahead on this page.
            nextAhead_ = rowCount_;
            return;
        }
        if (stored.isEmpty()) continue;
        ahead_[nextAhead_] = {pool_.submit(*Compressao_, stored), *Compressao_, stored};
    }
}

RecompressedPhoto PhotoLookahead::takeOrRecompress(int row, int Compressao,
                                                   const QByteArray& stored) {
    // Rows passed over without their photo being wanted (a file that could not be written,
    // say) give their workers' results up.
    for (auto it = ahead_.begin(); it != ahead_.end() && it->first < row;) {
        pool_.discard(it->second.ticket);
        it = ahead_.erase(it);
    }
    readAhead(row, row + 1 + pool_.workers());

    const auto it = ahead_.find(row);
    if (it == ahead_.end()) return recompressInMemory(Compressao, stored);
    const Ahead ahead = it->second;
    ahead_.erase(it);
    // The workers' result stands for this photo only if they had the same bytes at the same
    // quality; otherwise it is made again here.
    if (ahead.Compressao != Compressao ||
        (ahead.stored.constData() != stored.constData() && ahead.stored != stored)) {
        pool_.discard(ahead.ticket);
        return recompressInMemory(Compressao, stored);
    }
    if (!pool_.waitFor(ahead.ticket, 0))
        host_.waitResponsive([&](int ms) { return pool_.waitFor(ahead.ticket, ms); });
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
