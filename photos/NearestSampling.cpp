#include "photos/NearestSampling.h"

#include <algorithm>
#include <cstdint>

#include "photos/JpegRecompressor.h"

namespace patrimonio {

PictureSize boxSize(int width, int height) {
    // The products fit in 32 bits for every size a JPEG can declare (at most 65535 per side);
    // 64 bits only keep arbitrary pictures from overflowing. Division truncates toward zero.
    PictureSize size;
    if (width > height) {
        size.width = maxWidth;
        size.height = static_cast<int>(std::int64_t{height} * maxWidth / width);
    } else {
        size.height = maxHeight;
        size.width = static_cast<int>(std::int64_t{width} * maxHeight / height);
    }
    size.width = std::max(size.width, 1);
    size.height = std::max(size.height, 1);
    return size;
}

std::vector<int> nearestSourceMap(int targetLength, int sourceLength) {
    std::vector<int> map(static_cast<std::size_t>(std::max(targetLength, 0)));
    const std::int64_t twiceTarget = std::int64_t{targetLength} * 2;
    for (int t = 0; t < targetLength; ++t)
        map[t] = static_cast<int>((std::int64_t{2} * t + 1) * sourceLength / twiceTarget);
    return map;
}

}  // namespace patrimonio
