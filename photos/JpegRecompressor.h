#pragma once
// Recompression of one photo: decode a JPEG file, bring it to the 600/800 box by
// nearest-pixel sampling, encode it again at a bounded quality.

#include <QByteArray>
#include <QString>
#include <optional>

#include "photos/Picture.h"

namespace patrimonio {

constexpr int maxWidth = 600;   // width of a landscape picture
constexpr int maxHeight = 800;  // height of a portrait or square picture

// Returns the encoded JPEG, byte for byte what was written to AOutFile, or nothing when
// AInFile has no extension (no file read or written). Raises AppError on any other failure;
// AOutFile is then not created unless the failure was in writing it.
std::optional<QByteArray> SetJPGCompression(int Compressao, const QString& AInFile,
                                            const QString& AOutFile);

// Replaces Bit by a copy scaled to the box (boxSize) by nearest-pixel sampling.
// SetJPGCompression does the same while decoding, without holding the full-size picture.
void SetResize(Picture& Bit);

// The quality used for Compressao: its absolute value, 0 raised to 1, above 100 lowered to 100;
// the most negative 32-bit value, which has no absolute value, gives 100.
int boundedQuality(int Compressao);

}  // namespace patrimonio
