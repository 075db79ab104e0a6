#pragma once
// Decodes a JPEG held in memory straight into the box: each kept row is sampled as the codec
// delivers it, so the full-size picture is never held. The pixels are exactly those of a
// full-size decode with the codec's defaults followed by nearest-pixel sampling.

#include <QByteArray>

#include "photos/Picture.h"

namespace patrimonio {

struct SampledPhoto {
    Picture picture;             // already at its box size
    bool multipleScans = false;  // the input has more than one scan (every progressive JPEG)
};

enum class DecodeRoute {
    Fastest,    // the codec's planes for standard YCbCr layouts, finished here; else Scanlines
    Scanlines,  // the codec's RGB/grey/CMYK rows, skipping the rows the sampling drops
};

// Pictures above this many pixels are refused before any pixel memory is taken.
inline constexpr long long maxDecodedPixels = 400'000'000;

// Raises AppError when the data is not a JPEG the codec can decode, or is too large.
SampledPhoto decodeSampled(const QByteArray& jpeg, DecodeRoute route = DecodeRoute::Fastest);

}  // namespace patrimonio
