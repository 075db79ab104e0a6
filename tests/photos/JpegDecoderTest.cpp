#include <gtest/gtest.h>

#include <string>

#include "JpegFixtures.h"
#include "core/Errors.h"
#include "photos/JpegDecoder.h"
#include "photos/JpegRecompressor.h"
#include "photos/NearestSampling.h"

namespace patrimonio {
namespace {

using test::JpegShape;
using test::Layout;

// Index of the first differing byte, or -1.
long long firstDifference(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height) return 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i)
        if (a.rgb[i] != b.rgb[i]) return static_cast<long long>(i);
    return -1;
}

// The decoder drops rows and finishes colour itself; its picture must still be exactly the
// codec's full decode followed by nearest-pixel sampling, on both of its routes.
TEST(JpegDecoder, SampledPictureEqualsFullDecodeThenSampling) {
    struct Case {
        const char* what;
        JpegShape shape;
    };
    const Case cases[] = {
        {"4:2:0 camera landscape", {2000, 1500}},
        {"4:2:0 odd sizes", {1001, 667}},
        {"4:2:0 portrait", {999, 1333}},
        {"4:2:0 enlarged", {300, 200}},
        {"4:2:0 tiny", {5, 3}},
        {"4:2:0 chroma two wide", {4, 4}},
        {"4:2:0 thin landscape", {4000, 1}},
        {"4:2:0 thin portrait", {3, 4000}},
        {"4:2:0 whole bands skipped", {401, 16001}},
        {"4:2:0 restart markers", {1203, 901, Layout::Ycc420, false, 75, 2}},
        {"4:2:0 progressive", {1600, 1200, Layout::Ycc420, true}},
        {"4:2:0 progressive portrait", {601, 1201, Layout::Ycc420, true}},
        {"4:2:2", {1001, 667, Layout::Ycc422}},
        {"4:2:2 progressive", {777, 555, Layout::Ycc422, true}},
        {"4:4:4", {1001, 667, Layout::Ycc444}},
        {"4:4:0", {1001, 667, Layout::Ycc440}},
        {"greyscale", {1001, 667, Layout::Grey}},
        {"greyscale progressive", {667, 1001, Layout::Grey, true}},
    };
    for (const Case& c : cases) {
        const QByteArray jpeg = test::makeJpeg(c.shape);
        const Picture full = test::referenceDecode(jpeg);
        const PictureSize box = boxSize(full.width, full.height);
        const Picture expected = test::referenceSample(full, box.width, box.height);
        for (const DecodeRoute route : {DecodeRoute::Fastest, DecodeRoute::Scanlines}) {
            const std::string what =
                std::string(c.what) + (route == DecodeRoute::Fastest ? " (fastest)" : " (rows)");
            const SampledPhoto photo = decodeSampled(jpeg, route);
            EXPECT_EQ(photo.multipleScans, c.shape.progressive) << what;
            EXPECT_EQ(photo.picture.width, box.width) << what;
            EXPECT_EQ(photo.picture.height, box.height) << what;
            EXPECT_EQ(firstDifference(photo.picture, expected), -1) << what;
        }
        Picture resized = full;
        SetResize(resized);
        EXPECT_EQ(firstDifference(resized, expected), -1) << c.what << " (SetResize)";
    }
}

// Forged or crafted files must fail fast instead of taking the workstation's memory or minutes.
TEST(JpegDecoder, RefusesHostileSizesAndScanCounts) {
    const QByteArray small = test::makeJpeg({64, 48});
    EXPECT_THROW(decodeSampled(test::withFrameSize(small, 20001, 20000)), AppError);
    // Within the pixel bound, but its coefficients would take over a gigabyte.
    const QByteArray progressive = test::makeJpeg({64, 48, Layout::Ycc420, true});
    EXPECT_THROW(decodeSampled(test::withFrameSize(progressive, 20000, 19000)), AppError);

    EXPECT_EQ(decodeSampled(test::makeJpegWithManyScans(64, 48, 1)).picture.width, 600);
    try {
        decodeSampled(test::makeJpegWithManyScans(64, 48, 3));
        ADD_FAILURE() << "2112 scans were accepted";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("too many scans"))) << e.what();
    }
    // A sequential frame larger than its data is decoded row by row, the codec filling in
    // what is missing.
    const SampledPhoto photo = decodeSampled(test::withFrameSize(small, 6000, 4000));
    EXPECT_EQ(photo.picture.width, 600);
    EXPECT_EQ(photo.picture.height, 400);
}

}  // namespace
}  // namespace patrimonio
