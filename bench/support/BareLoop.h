#pragma once
// The plain way to bring a photo to its box, the yardstick the benchmarks hold the recompression
// against: the whole picture decoded to RGB with libjpeg, sampled to the box by nearest pixel,
// encoded again. With the encoder and the file helpers it is built from.

#include <QByteArray>
#include <cstdint>
#include <string>
#include <vector>

namespace patrimonio::bench {

// How a picture is encoded.
struct Encoding {
    int quality = 92;
    int hLuma = 2;  // luma sampling factors: 2 x 2 is 4:2:0, 2 x 1 is 4:2:2, 1 x 1 is 4:4:4
    int vLuma = 2;
    bool progressive = false;
    int restartRows = 0;  // a restart marker every this many MCU rows; 0 for none
    bool camera = false;  // an EXIF block with a 160 x 120 thumbnail instead of the JFIF header
};

// An RGB picture encoded as a JPEG; `app1`, when given, is written as an APP1 block in place of
// the JFIF header.
QByteArray encode(const std::vector<std::uint8_t>& rgb, int width, int height,
                  const Encoding& encoding, const QByteArray& app1 = {});

// The nearest-pixel copy of an RGB picture at another size.
std::vector<std::uint8_t> sampled(const std::vector<std::uint8_t>& rgb, int width, int height,
                                  int toWidth, int toHeight);

// A whole file; false (write) or empty (read) when it cannot be.
bool writeBytes(const std::string& path, const QByteArray& bytes);
QByteArray readBytes(const std::string& path);

// Reads the JPEG `in`, decodes it whole, samples it to its box and writes it to `out` at
// quality 60, progressive when `in` is. Not thread-safe: it keeps its picture buffer between
// calls.
void bareLoop(const std::string& in, const std::string& out);

}  // namespace patrimonio::bench
