#pragma once
// Recompression of one photo: decode a JPEG file, bring it to the 600/800 box by
// nearest-pixel sampling, encode it again at a bounded quality.

#include <QByteArray>
#include <QString>
#include <optional>

namespace patrimonio {

constexpr int maxWidth = 600;   // width of a landscape picture
constexpr int maxHeight = 800;  // height of a portrait or square picture

// Returns the encoded JPEG, byte for byte what was written to AOutFile, or nothing when
// AInFile has no extension (no file read or written). Raises AppError on any other failure.
std::optional<QByteArray> SetJPGCompression(int Compressao, const QString& AInFile,
                                            const QString& AOutFile);

}  // namespace patrimonio
