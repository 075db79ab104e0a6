#include "db/PackedRow.h"

#include "db/PackedBytes.h"

namespace patrimonio::detail {

const std::vector<unsigned char>& PackedRowCodec::pack(const std::vector<Value>& values,
                                                       const std::vector<char>& assigned,
                                                       unsigned char flags) {
    scratch_.clear();
    scratch_.push_back(flags);
    for (int i = 0; i < count(); ++i) {
        if (!assigned[i]) {
            scratch_.push_back(kUnassigned);
            continue;
        }
        const Value& v = values[i];
        if (v.isNull()) {
            scratch_.push_back(kNull);
            continue;
        }
        scratch_.push_back(kValue);
        types_[i].kind->pack(v, scratch_, blobs_);
    }
    return scratch_;
}

Value PackedRowCodec::read(const unsigned char*& p, int i, unsigned char* tagOut) const {
    const unsigned char tag = *p++;
    if (tagOut) *tagOut = tag;
    if (tag == kBlobElsewhere) skip(p, i, tag);
    if (tag != kValue) return {};
    return types_[i].kind->unpack(p, types_[i], blobs_);
}

Value PackedRowCodec::field(const unsigned char* row, int i, unsigned char* tag) const {
    const unsigned char* p = row + 1;
    for (int k = 0; k < i; ++k) {
        const unsigned char t = *p++;
        skip(p, k, t);
    }
    return read(p, i, tag);
}

void PackedRowCodec::tags(const unsigned char* row, unsigned char* tags) const {
    const unsigned char* p = row + 1;
    for (int i = 0; i < count(); ++i) {
        tags[i] = *p++;
        skip(p, i, tags[i]);
    }
}

void PackedRowCodec::releaseBlobs(unsigned char* row) const {
    unsigned char* p = row + 1;
    for (int i = 0; i < count(); ++i) {
        unsigned char& tag = *p++;
        const unsigned char* next = p;
        if (tag == kValue && codec::isBlob(types_[i])) {
            blobs_.release(static_cast<std::uint32_t>(getVar(next)));
            tag = kBlobElsewhere;
        } else {
            skip(next, i, tag);
        }
        p = row + (next - row);
    }
}

}  // namespace patrimonio::detail
