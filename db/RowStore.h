#pragma once
// The rows of a record set in their order. A fetched row is its fetch buffer as it came, kept
// in blocks one after another; a new row is packed (db/PackedRow.h) into blocks of its own.
// Rows are numbered as they come, fetched rows first, and keep their number; they are linked
// both ways in their order, so that a row added at the first place costs what one added at the
// millionth does. A row that leaves is unlinked, its number never used again.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "db/BlobSlots.h"

namespace patrimonio::detail {

constexpr std::uint32_t kNoRow = 0xFFFFFFFFu;

class RowStore {
public:
    // Fetches rows until fill(buffer) says there are no more, each into a buffer of
    // messageLength bytes aligned for its widest member, and links them in that order.
    template <class Fill>
    void fetch(unsigned messageLength, Fill&& fill) {
        startFetch(messageLength);
        for (;;) {
            unsigned char* slot = fetchSlot();
            if (!fill(slot)) {
                --usedInChunk_;
                break;
            }
            link(slot, kNoRow);
        }
        fetched_ = static_cast<std::uint32_t>(nodes_.size());
    }

    // A copy of a packed row, kept until clear.
    unsigned char* keep(const std::vector<unsigned char>& packed);
    // The BLOB bytes of new rows until they are written.
    BlobSlots& blobs() { return blobs_; }

    // Links a row before `before` (kNoRow: after the last one); returns its number.
    std::uint32_t link(unsigned char* data, std::uint32_t before);
    void unlink(std::uint32_t row);

    std::uint32_t head() const { return head_; }
    std::uint32_t tail() const { return tail_; }
    std::uint32_t next(std::uint32_t row) const { return nodes_[row].next; }
    std::uint32_t prev(std::uint32_t row) const { return nodes_[row].prev; }
    int count() const { return count_; }
    // A row added after the fetch: packed, not a fetch buffer.
    bool isNew(std::uint32_t row) const { return row >= fetched_; }
    // The fetch buffer or the packed row.
    unsigned char* data(std::uint32_t row) const { return nodes_[row].data; }
    void setData(std::uint32_t row, unsigned char* data) { nodes_[row].data = data; }

    // Drops every row.
    void clear();

private:
    struct Node {
        unsigned char* data = nullptr;
        std::uint32_t prev = kNoRow, next = kNoRow;
    };

    void startFetch(unsigned messageLength);
    unsigned char* fetchSlot();

    // Fetched rows: their buffers, `stride_` bytes each, in blocks.
    unsigned stride_ = 0;
    std::vector<std::unique_ptr<unsigned char[]>> chunks_;
    size_t rowsPerChunk_ = 0, usedInChunk_ = 0;
    // Packed rows, one after another in blocks.
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    unsigned char* nextPacked_ = nullptr;
    size_t leftInBlock_ = 0;
    BlobSlots blobs_;

    std::deque<Node> nodes_;
    std::uint32_t fetched_ = 0;  // rows numbered below this were fetched
    std::uint32_t head_ = kNoRow, tail_ = kNoRow;
    int count_ = 0;
};

}  // namespace patrimonio::detail
