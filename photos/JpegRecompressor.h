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

// A photo recompressed in memory: the encoded JPEG and the box-sized picture it was encoded
// from (what the window shows of the photo being handled).
struct RecompressedPhoto {
    QByteArray jpeg;
    Picture picture;
};

// Decodes the stored photo into its box and encodes it at boundedQuality(Compressao). Touches
// no file and keeps no state, so any number of threads may call it at once. Raises AppError
// when the photo cannot be decoded or encoded.
RecompressedPhoto recompressInMemory(int Compressao, const QByteArray& stored);

// Writes the recompressed photo to AOutFile whole, in one write; raises AppError as
// SetJPGCompression does when it cannot.
void writeRecompressedFile(const QString& AOutFile, const QByteArray& jpeg);

// Returns the encoded JPEG, byte for byte what was written to AOutFile, or nothing when
// AInFile has no extension (no file read or written). Raises AppError on any other failure;
// AOutFile is then left as it was (it is written whole or not at all).
std::optional<QByteArray> SetJPGCompression(int Compressao, const QString& AInFile,
                                            const QString& AOutFile);

// The same recompression of a photo already in memory: `photo` holds the bytes the before file
// AInFile was written from, and only AInFile's name is looked at (the extension test). The after
// file is written whole from the bytes returned. The callers use this one, so that what is
// recompressed is the photo as read from the database, never a file read back from the disk.
std::optional<QByteArray> recompressPhoto(int Compressao, const QByteArray& photo,
                                          const QString& AInFile, const QString& AOutFile);

// The recompression alone, touching no file: nothing when AInFile has no extension, else the
// encoded JPEG. Raises AppError when the photo cannot be decoded or encoded. Keeps no state, so
// calls for different photos may run at the same time.
std::optional<QByteArray> recompressJpeg(int Compressao, const QByteArray& photo,
                                         const QString& AInFile);

// Replaces Bit by a copy scaled to the box (boxSize) by nearest-pixel sampling.
// SetJPGCompression does the same while decoding, without holding the full-size picture.
void SetResize(Picture& Bit);

// The quality used for Compressao: its absolute value, 0 raised to 1, above 100 lowered to 100;
// the most negative 32-bit value, which has no absolute value, gives 100.
int boundedQuality(int Compressao);

}  // namespace patrimonio
