#include "photos/ColourConversion.h"

namespace patrimonio {

namespace {
constexpr int scaleBits = 16;
constexpr std::int32_t oneHalf = std::int32_t{1} << (scaleBits - 1);
constexpr std::int32_t fix(double x) {
    return static_cast<std::int32_t>(x * (1 << scaleBits) + 0.5);
}
}  // namespace

YccToRgb::YccToRgb() {
    for (int i = 0; i < 256; ++i) {
        const std::int32_t x = i - 128;
        crToR_[i] = static_cast<int>((fix(1.40200) * x + oneHalf) >> scaleBits);
        cbToB_[i] = static_cast<int>((fix(1.77200) * x + oneHalf) >> scaleBits);
        crToG_[i] = -fix(0.71414) * x;
        cbToG_[i] = -fix(0.34414) * x + oneHalf;
    }
}

}  // namespace patrimonio
