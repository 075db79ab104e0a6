#pragma once
// Encodes a picture as the recompressed photo: 24-bit RGB in, the codec's defaults (YCbCr,
// 4:2:0, JFIF), its quality scaling with baseline forcing, and its simple progression when asked.

#include <QByteArray>

#include "photos/Picture.h"

namespace patrimonio {

// quality must already be within 1..100. Raises AppError when the codec stops.
QByteArray encodeJpeg(const Picture& picture, int quality, bool progressive);

}  // namespace patrimonio
