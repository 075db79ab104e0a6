#pragma once
// Colour conversions the decoder does itself, for the few pixels it keeps.

#include <array>
#include <cstdint>

namespace patrimonio {

// YCbCr to RGB with libjpeg's own fixed-point tables (16 fraction bits, same rounding), so
// that converting a sample here gives exactly what the codec's converter would.
class YccToRgb {
public:
    YccToRgb();
    void convert(int y, int cb, int cr, std::uint8_t* rgb) const {
        rgb[0] = clamp(y + crToR_[cr]);
        rgb[1] = clamp(y + ((cbToG_[cb] + crToG_[cr]) >> 16));
        rgb[2] = clamp(y + cbToB_[cb]);
    }

private:
    static std::uint8_t clamp(int v) {
        return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    std::array<int, 256> crToR_{};
    std::array<int, 256> cbToB_{};
    std::array<std::int32_t, 256> crToG_{};  // scaled by 2^16
    std::array<std::int32_t, 256> cbToG_{};  // scaled by 2^16, with the rounding half
};

// CMYK samples as the codec hands them (after its YCCK to CMYK step) to RGB. Files carrying an
// Adobe marker store inverted inks (0 = full ink), as Photoshop writes them; others store inks
// plainly. Each channel is the light left by its ink times the light left by black.
inline void cmykToRgb(const std::uint8_t* cmyk, bool invertedInks, std::uint8_t* rgb) {
    const int k = invertedInks ? cmyk[3] : 255 - cmyk[3];
    for (int i = 0; i < 3; ++i) {
        const int ink = invertedInks ? cmyk[i] : 255 - cmyk[i];
        rgb[i] = static_cast<std::uint8_t>((ink * k + 127) / 255);
    }
}

}  // namespace patrimonio
