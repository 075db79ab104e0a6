#pragma once
// The box every photo is brought to, and which source pixel each target pixel takes.

#include <vector>

namespace patrimonio {

struct PictureSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

// Landscape pictures become maxWidth wide, portrait and square ones maxHeight high; the other
// side keeps the proportion with a truncating integer division, and is at least 1 pixel (a
// side of 0 could not be encoded).
PictureSize boxSize(int width, int height);

// For each of targetLength pixels, the source pixel (0..sourceLength-1) whose centre is nearest
// to the target pixel's centre: floor((2t + 1) * source / (2 * target)). Rows and columns are
// dropped when shrinking and repeated when enlarging; nothing is averaged. The map never
// decreases, so a decoder can walk the source once, top to bottom.
std::vector<int> nearestSourceMap(int targetLength, int sourceLength);

}  // namespace patrimonio
