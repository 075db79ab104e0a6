#pragma once
// The bytes a packed value is made of (db/PackedRow.h): whole numbers as variable-length numbers
// of 7 bits a byte (signed ones zigzagged first, so that small negatives stay short), and
// fixed-size values as their bytes.

#include <cstdint>
#include <cstring>
#include <vector>

namespace patrimonio::detail {

inline void putVar(std::vector<unsigned char>& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<unsigned char>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<unsigned char>(v));
}

inline std::uint64_t getVar(const unsigned char*& p) {
    std::uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
        const unsigned char b = *p++;
        v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return v;
    }
}

inline std::uint64_t zigzag(std::int64_t v) {
    return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}

inline std::int64_t unzigzag(std::uint64_t v) {
    return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
}

template <class T>
void putFixed(std::vector<unsigned char>& out, T v) {
    unsigned char b[sizeof v];
    std::memcpy(b, &v, sizeof v);
    out.insert(out.end(), b, b + sizeof v);
}

template <class T>
T getFixed(const unsigned char*& p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
}

}  // namespace patrimonio::detail
