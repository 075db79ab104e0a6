#pragma once
// Real JPEG files for the photo tests, made with libjpeg, and a reference decoder: the codec's
// full-size decode followed by the plainest nearest-pixel sampling, to compare against.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "photos/Picture.h"

namespace patrimonio::test {

enum class Layout {
    Ycc420,
    Ycc422,
    Ycc444,
    Ycc440,  // chroma halved vertically only
    Grey,
    CmykAdobe,  // Adobe marker, inks stored inverted (as Photoshop writes them)
    CmykPlain,  // no Adobe marker, inks stored as they are
    YcckAdobe,
};

struct JpegShape {
    int width = 0;
    int height = 0;
    Layout layout = Layout::Ycc420;
    bool progressive = false;
    int quality = 90;
    int restartRows = 0;  // restart marker every this many MCU rows; 0 for none
};

// Samples of one pixel: 1 for Grey, 4 ink amounts (0 = no ink) for the CMYK layouts, else RGB.
using PixelSource = std::function<void(int x, int y, std::uint8_t* samples)>;

// A deterministic textured picture: gradients, stripes and noise, so that every pixel differs
// from its neighbours and a wrong source pixel shows.
PixelSource texture();

QByteArray makeJpeg(const JpegShape& shape, const PixelSource& pixels = texture());

// One scan of a progressive script: the components it covers (their indexes), its band of
// coefficients ss..se and its successive approximation (bits ah before, al after).
struct ScanStep {
    std::vector<int> components;
    int ss = 0;
    int se = 0;
    int ah = 0;
    int al = 0;
};

// A progressive JPEG of the texture written with this scan script.
QByteArray makeJpegWithScript(const JpegShape& shape, const std::vector<ScanStep>& script);

// A valid progressive JPEG (greyscale, or YCbCr 4:4:4 for 3 components) split into as many
// scans as the codec allows, 704 per component: each coefficient band in its own scan, refined
// one bit at a time.
QByteArray makeJpegWithManyScans(int width, int height, int components);

// The same JPEG with its whole sequence of scans (each with the tables written before it)
// written `copies` times: a file of a few kilobytes whose every scan still makes the codec go
// over all the blocks its frame declares. The codec only warns about the repeated scans.
QByteArray withScansRepeated(const QByteArray& jpeg, int copies);

// How many scans the codec reads when it decodes the JPEG.
int scansReadByCodec(const QByteArray& jpeg);

// The codec's full-size decode to RGB with its defaults (greyscale expanded to three samples).
Picture referenceDecode(const QByteArray& jpeg);
// Nearest-pixel sampling written plainly: target pixel t takes source floor((t + 1/2) * S / T).
Picture referenceSample(const Picture& full, int width, int height);

// What the codec reads from a JPEG's header, plus its frame type.
struct JpegFacts {
    int width = 0;
    int height = 0;
    int components = 0;
    int colourSpace = 0;  // J_COLOR_SPACE
    bool jfif = false;
    bool progressive = false;
    bool multipleScans = false;
    bool baseline = false;  // SOF0 frame
    std::array<int, 3> hSampling{};
    std::array<int, 3> vSampling{};
    std::vector<std::vector<int>> quantTables;  // every table present, in natural order
};
JpegFacts factsOf(const QByteArray& jpeg);

// The luminance and chrominance tables libjpeg makes for a quality with baseline forcing.
std::vector<std::vector<int>> expectedQuantTables(int quality);

// Rewrites the frame size in the SOF marker (for forged headers).
QByteArray withFrameSize(QByteArray jpeg, int width, int height);

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

}  // namespace patrimonio::test
