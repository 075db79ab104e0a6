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

// A photo of several scans is decoded scan by scan into a buffer of all its coefficients, and
// every scan makes the codec go over each block of the components it covers, however little
// data the scan holds. A real progressive photo has ten to twelve scans going over each
// component four to six times: 13 to 17 million blocks for 60 MP at 4:4:4, about 22 million for
// the largest photo the codec's memory cap admits. A crafted file of a few kilobytes can hold a
// thousand empty scans over 8000 x 8000 pixels, a billion blocks (seconds of work and the
// memory of every coefficient); it is refused before the codec takes that memory.
inline constexpr int maxScans = 1000;
inline constexpr long long maxScanBlocks = 40'000'000;

// The scans of a multi-scan photo and the blocks they go over in all.
struct ScanWork {
    int scans = 0;
    long long blocks = 0;
};

// Raises AppError when the data is not a JPEG the codec can decode, or is too large or too
// costly to decode.
SampledPhoto decodeSampled(const QByteArray& jpeg, DecodeRoute route = DecodeRoute::Fastest);

// The checks decodeSampled makes after reading the header and before decoding anything, alone:
// raises AppError as decodeSampled would, else returns the scans' work (none is counted for a
// single-scan photo, which is decoded in one pass over its blocks).
ScanWork checkDecodingCost(const QByteArray& jpeg);

}  // namespace patrimonio
