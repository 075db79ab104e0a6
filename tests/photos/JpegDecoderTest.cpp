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
        {"4:2:0 progressive restart markers", {1203, 901, Layout::Ycc420, true, 75, 1}},
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

// The usual progressive scripts of ten to twelve scans over 60 MP, at 4:2:0 and at 4:4:4, stay
// within the scans' budget; the same headers with their scans written a few times over do not.
TEST(JpegDecoder, ScanBudgetAdmitsRealProgressivePhotosOnly) {
    using test::ScanStep;
    // Twelve scans with the DC coefficients sent in three interleaved steps: each of those goes
    // over all three components, the heaviest usual script.
    const std::vector<ScanStep> twelveScans = {
        {{0, 1, 2}, 0, 0, 0, 2}, {{0}, 1, 5, 0, 2},       {{2}, 1, 63, 0, 1},
        {{1}, 1, 63, 0, 1},      {{0}, 6, 63, 0, 2},      {{0, 1, 2}, 0, 0, 2, 1},
        {{0}, 1, 63, 2, 1},      {{0, 1, 2}, 0, 0, 1, 0}, {{1}, 1, 63, 1, 0},
        {{2}, 1, 63, 1, 0},      {{0}, 1, 5, 1, 0},       {{0}, 6, 63, 1, 0},
    };
    struct Case {
        const char* what;
        QByteArray jpeg;  // a small picture; its frame is then declared 9000 x 6700 (60.3 MP)
        int copies;       // of its scan sequence
        int scans;        // what the walk must count
        bool admitted;
    };
    const Case cases[] = {
        {"4:2:0, 10 scans", test::makeJpeg({64, 48, Layout::Ycc420, true}), 1, 10, true},
        {"4:4:4, 10 scans", test::makeJpeg({64, 48, Layout::Ycc444, true}), 1, 10, true},
        {"4:4:4, 12 scans", test::makeJpegWithScript({64, 48, Layout::Ycc444}, twelveScans), 1, 12,
         true},
        {"greyscale, 6 scans", test::makeJpeg({64, 48, Layout::Grey, true}), 1, 6, true},
        {"4:4:4, 20 scans", test::makeJpeg({64, 48, Layout::Ycc444, true}), 2, 20, true},
        {"4:2:0, 60 scans", test::makeJpeg({64, 48, Layout::Ycc420, true}), 6, 60, false},
        {"4:4:4, 40 scans", test::makeJpeg({64, 48, Layout::Ycc444, true}), 4, 40, false},
        {"greyscale, 60 scans", test::makeJpeg({64, 48, Layout::Grey, true}), 10, 60, false},
    };
    for (const Case& c : cases) {
        const QByteArray jpeg =
            test::withFrameSize(test::withScansRepeated(c.jpeg, c.copies), 9000, 6700);
        try {
            EXPECT_EQ(checkDecodingCost(jpeg).scans, c.scans) << c.what;
            EXPECT_TRUE(c.admitted) << c.what << " was admitted";
        } catch (const AppError& e) {
            EXPECT_FALSE(c.admitted) << c.what << ": " << e.what();
            EXPECT_TRUE(e.message().contains(QStringLiteral("too costly"))) << e.what();
            EXPECT_TRUE(
                e.message().contains(QStringLiteral("%1 scans over 9000 x 6700").arg(c.scans)))
                << e.what();
        }
    }

    // Each scan counts every block of the components it covers. At 1600 x 1200 in 4:2:0 the
    // luma has 200 x 150 blocks and each chroma 100 x 75: the two DC scans cover all three, six
    // AC scans the luma alone and four one chroma each.
    const ScanWork work = checkDecodingCost(test::makeJpeg({1600, 1200, Layout::Ycc420, true}));
    EXPECT_EQ(work.blocks, 2 * 45000 + 4 * 30000 + 4 * 7500);
    EXPECT_EQ(checkDecodingCost(test::makeJpeg({1600, 1200})).scans, 0) << "single scan";
}

// The scans are counted from the bytes before the codec reads them; the count must be the
// codec's own, whatever lies between and inside the scans.
TEST(JpegDecoder, ScanWalkCountsWhatTheCodecReads) {
    const QByteArray progressive = test::makeJpeg({120, 90, Layout::Ycc420, true});
    const qsizetype secondScan =
        progressive.indexOf("\xFF\xDA", progressive.indexOf("\xFF\xDA") + 2);
    ASSERT_GT(secondScan, 0);
    const auto inserted = [&](const QByteArray& bytes) {
        return progressive.left(secondScan) + bytes + progressive.mid(secondScan);
    };
    // The scan sequence without its end of image, to append after it.
    const QByteArray scans = test::withScansRepeated(progressive, 2).mid(progressive.size() - 2);
    struct Case {
        const char* what;
        QByteArray jpeg;
    };
    const Case cases[] = {
        {"simple script", progressive},
        {"restart markers in every row", test::makeJpeg({120, 90, Layout::Ycc420, true, 75, 1})},
        {"coded 0xFF bytes and markers in data",
         test::makeJpeg({640, 480, Layout::Ycc444, true, 100})},
        {"a comment between scans",
         inserted(QByteArray("\xFF\xFE\x00\x07\xFF\xDA\xFF\x00\x00", 9))},
        {"fill bytes before a marker", inserted(QByteArray("\xFF\xFF\xFF", 3))},
        {"stray bytes between scans", inserted(QByteArray("ab\xFF\x00\xFF\xD3"
                                                          "cd",
                                                          8))},
        {"a scan after the end of the image", progressive + scans},
        {"scans repeated", test::withScansRepeated(progressive, 3)},
        {"sequential, one scan per component",
         test::makeJpegWithScript({120, 90, Layout::Ycc444},
                                  {{{0}, 0, 63, 0, 0}, {{1}, 0, 63, 0, 0}, {{2}, 0, 63, 0, 0}})},
    };
    for (const Case& c : cases) {
        const int codec = test::scansReadByCodec(c.jpeg);
        EXPECT_GT(codec, 1) << c.what;
        EXPECT_EQ(checkDecodingCost(c.jpeg).scans, codec) << c.what;
    }
}

}  // namespace
}  // namespace patrimonio
