#include "db/RowStore.h"

#include <algorithm>
#include <cstring>

namespace patrimonio::detail {

namespace {

// Rows are kept in blocks of about this size.
constexpr size_t kBlockBytes = 1 << 20;

}  // namespace

void RowStore::startFetch(unsigned messageLength) {
    stride_ = (messageLength + 7u) & ~7u;
    rowsPerChunk_ = std::max<size_t>(1, kBlockBytes / stride_);
}

unsigned char* RowStore::fetchSlot() {
    if (chunks_.empty() || usedInChunk_ == rowsPerChunk_) {
        chunks_.emplace_back(new unsigned char[rowsPerChunk_ * stride_]);
        usedInChunk_ = 0;
    }
    return chunks_.back().get() + (usedInChunk_++) * stride_;
}

unsigned char* RowStore::keep(const std::vector<unsigned char>& packed) {
    const size_t n = packed.size();
    if (n > leftInBlock_) {
        const size_t size = std::max(kBlockBytes, n);
        blocks_.emplace_back(new unsigned char[size]);
        nextPacked_ = blocks_.back().get();
        leftInBlock_ = size;
    }
    unsigned char* p = nextPacked_;
    nextPacked_ += n;
    leftInBlock_ -= n;
    std::memcpy(p, packed.data(), n);
    return p;
}

std::uint32_t RowStore::link(unsigned char* data, std::uint32_t before) {
    const auto row = static_cast<std::uint32_t>(nodes_.size());
    Node n;
    n.data = data;
    if (before == kNoRow) {
        n.prev = tail_;
        if (tail_ != kNoRow) nodes_[tail_].next = row;
        tail_ = row;
        if (head_ == kNoRow) head_ = row;
    } else {
        n.prev = nodes_[before].prev;
        n.next = before;
        if (n.prev != kNoRow) {
            nodes_[n.prev].next = row;
        } else {
            head_ = row;
        }
        nodes_[before].prev = row;
    }
    nodes_.push_back(n);
    ++count_;
    return row;
}

void RowStore::unlink(std::uint32_t row) {
    Node& n = nodes_[row];
    if (n.prev != kNoRow) {
        nodes_[n.prev].next = n.next;
    } else {
        head_ = n.next;
    }
    if (n.next != kNoRow) {
        nodes_[n.next].prev = n.prev;
    } else {
        tail_ = n.prev;
    }
    n.prev = n.next = kNoRow;
    n.data = nullptr;
    --count_;
}

void RowStore::clear() {
    chunks_.clear();
    usedInChunk_ = 0;
    blocks_.clear();
    nextPacked_ = nullptr;
    leftInBlock_ = 0;
    blobs_.clear();
    nodes_.clear();
    fetched_ = 0;
    head_ = tail_ = kNoRow;
    count_ = 0;
}

}  // namespace patrimonio::detail
