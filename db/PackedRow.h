#pragma once
// A new row, packed: a byte of flags, then for each field a tag and, after a value's tag, the
// value as its column type packs it (db/ColumnTypes.h): whole numbers as variable-length
// numbers, text after its length, a BLOB as the number of the slot that holds its bytes. A row
// of short fields takes a few dozen bytes where typed values would take hundreds.

#include <vector>

#include "db/BlobSlots.h"
#include "db/ColumnTypes.h"
#include "db/Value.h"

namespace patrimonio::detail {

// The first byte of a packed row.
enum PackedFlags : unsigned char { kPending = 1, kInDatabase = 2 };

// The tag before each field of a packed row.
enum PackedTag : unsigned char {
    kUnassigned = 0,
    kNull = 1,
    kValue = 2,
    kBlobElsewhere = 3,  // a written row's BLOB, fetched again when read
};

// Packs and reads the rows of one record set: its fields' types, and the slots its new rows'
// BLOB bytes wait in.
class PackedRowCodec {
public:
    PackedRowCodec(const std::vector<codec::ColumnType>& types, BlobSlots& blobs)
        : types_(types), blobs_(blobs) {}

    // The assigned fields of a row, packed behind `flags` (BLOB bytes go to the slots). The
    // bytes stay valid until the next call.
    const std::vector<unsigned char>& pack(const std::vector<Value>& values,
                                           const std::vector<char>& assigned, unsigned char flags);
    // Field i where p stands (at its tag), and its tag; p then stands at the next field. NULL
    // unless the tag is kValue.
    Value read(const unsigned char*& p, int i, unsigned char* tag) const;
    // Field i of a packed row, and its tag.
    Value field(const unsigned char* row, int i, unsigned char* tag) const;
    // The tag of every field, in one walk.
    void tags(const unsigned char* row, unsigned char* tags) const;
    // A row that no longer needs its BLOB bytes here frees their slots; its BLOBs are then
    // tagged kBlobElsewhere.
    void releaseBlobs(unsigned char* row) const;

private:
    int count() const { return static_cast<int>(types_.size()); }
    // Steps past field i's value, when its tag says it has one.
    void skip(const unsigned char*& p, int i, unsigned char tag) const {
        if (tag == kValue || tag == kBlobElsewhere) types_[i].kind->skip(p);
    }

    const std::vector<codec::ColumnType>& types_;
    BlobSlots& blobs_;
    std::vector<unsigned char> scratch_;
};

}  // namespace patrimonio::detail
