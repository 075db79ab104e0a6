#pragma once
// What a value and its codec both count on: exact arithmetic on scaled integers and
// Firebird's day zero.

#include <QDate>
#include <cstdint>
#include <limits>

namespace patrimonio {

// a * b, false on overflow.
inline bool checkedMul(std::int64_t a, std::int64_t b, std::int64_t* out) {
#if defined(__GNUC__) || defined(__clang__)
    return !__builtin_mul_overflow(a, b, out);
#else
    if (a != 0 && b != 0) {
        const std::int64_t hi = std::numeric_limits<std::int64_t>::max();
        const std::int64_t lo = std::numeric_limits<std::int64_t>::min();
        if ((a > 0 && b > 0 && a > hi / b) || (a < 0 && b < 0 && a < hi / b) ||
            (a > 0 && b < 0 && b < lo / a) || (a < 0 && b > 0 && a < lo / b))
            return false;
    }
    *out = a * b;
    return true;
#endif
}

// Firebird counts days (ISC_DATE) from 1858-11-17.
inline QDate iscDateBase() {
    return QDate(1858, 11, 17);
}

}  // namespace patrimonio
