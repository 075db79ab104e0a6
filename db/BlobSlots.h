#pragma once
// The BLOB bytes of new rows until they are written. A packed row holds the slot number of each
// of its BLOBs, so the row itself stays small; a slot freed by a row that was written or dropped
// is taken again by the next BLOB.

#include <QByteArray>
#include <cstdint>
#include <vector>

namespace patrimonio::detail {

class BlobSlots {
public:
    std::uint32_t put(const QByteArray& bytes) {
        if (!free_.empty()) {
            const std::uint32_t slot = free_.back();
            free_.pop_back();
            bytes_[slot] = bytes;
            return slot;
        }
        bytes_.push_back(bytes);
        return static_cast<std::uint32_t>(bytes_.size() - 1);
    }
    const QByteArray& at(std::uint32_t slot) const { return bytes_[slot]; }
    void release(std::uint32_t slot) {
        bytes_[slot] = QByteArray();
        free_.push_back(slot);
    }
    void clear() {
        bytes_.clear();
        free_.clear();
    }

private:
    std::vector<QByteArray> bytes_;
    std::vector<std::uint32_t> free_;
};

}  // namespace patrimonio::detail
