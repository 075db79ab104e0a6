#pragma once
// A decoded picture as the recompression handles it: 24-bit RGB, rows top to bottom, no padding.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace patrimonio {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3 bytes

    Picture() = default;
    Picture(int w, int h) : width(w), height(h), rgb(static_cast<std::size_t>(w) * h * 3) {}

    std::uint8_t* row(int y) { return rgb.data() + static_cast<std::size_t>(y) * width * 3; }
    const std::uint8_t* row(int y) const {
        return rgb.data() + static_cast<std::size_t>(y) * width * 3;
    }
};

}  // namespace patrimonio
