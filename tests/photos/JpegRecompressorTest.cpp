#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <climits>

#include "JpegFixtures.h"
#include "TestDatabase.h"
#include "core/Errors.h"
#include "photos/JpegDecoder.h"
#include "photos/JpegLib.h"
#include "photos/JpegRecompressor.h"
#include "photos/NearestSampling.h"

namespace patrimonio {
namespace {

using test::JpegShape;
using test::Layout;

class Recompression : public ::testing::Test {
protected:
    test::TempFolder folder;

    QString before(const QString& name = QStringLiteral("1__foto.jpg")) const {
        return folder.path(name);
    }
    QString after() const { return folder.path(QStringLiteral("1 foto.jpg")); }

    // Writes the JPEG as the before file and recompresses it into the after file.
    QByteArray recompress(const QByteArray& input, int quality = 60) {
        test::writeFile(before(), input);
        const std::optional<QByteArray> out = SetJPGCompression(quality, before(), after());
        if (!out) throw std::runtime_error("no stream returned");
        EXPECT_EQ(*out, test::readFile(after())) << "the stream must hold the file's bytes";
        return *out;
    }
};

TEST(BoxRule, SidesFollowTheLongerSideAndTruncate) {
    struct Case {
        int w, h, newW, newH;
    };
    const Case cases[] = {
        {4000, 3000, 600, 450}, {1024, 768, 600, 450},    {1000, 667, 600, 400},
        {601, 450, 600, 449},   {300, 200, 600, 400},     {3000, 4000, 600, 800},
        {700, 750, 746, 800},   {599, 800, 599, 800},     {799, 800, 799, 800},
        {1000, 1000, 800, 800}, {100, 100, 800, 800},     {4000, 1, 600, 1},
        {1, 4000, 1, 800},      {65535, 65535, 800, 800},
    };
    for (const Case& c : cases)
        EXPECT_EQ(boxSize(c.w, c.h), (PictureSize{c.newW, c.newH})) << c.w << " x " << c.h;
}

TEST(BoxRule, NearestSourceDropsAndRepeatsWithoutLeavingThePicture) {
    EXPECT_EQ(nearestSourceMap(3, 6), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(nearestSourceMap(4, 2), (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(nearestSourceMap(1, 5), (std::vector<int>{2}));
    EXPECT_EQ(nearestSourceMap(600, 4000).back(), 3996);
    EXPECT_EQ(nearestSourceMap(800, 1).back(), 0);
}

TEST(BoxRule, QualityIsBoundedToOneToHundred) {
    struct Case {
        int given, used;
    };
    const Case cases[] = {{60, 60},   {-70, 70},  {-5, 5},    {0, 1},         {1, 1},
                          {100, 100}, {101, 100}, {250, 100}, {INT_MIN, 100}, {INT_MAX, 100}};
    for (const Case& c : cases) EXPECT_EQ(boundedQuality(c.given), c.used) << c.given;
}

TEST(BoxRule, SetResizeSamplesTheWholePicture) {
    Picture bit(3, 2);  // every pixel distinct
    for (int i = 0; i < 18; ++i) bit.rgb[i] = static_cast<std::uint8_t>(i * 10);
    SetResize(bit);
    ASSERT_EQ(bit.width, 600);
    ASSERT_EQ(bit.height, 400);
    const auto pixel = [&](int x, int y) {
        return std::vector<int>(bit.row(y) + x * 3, bit.row(y) + x * 3 + 3);
    };
    EXPECT_EQ(pixel(0, 0), (std::vector<int>{0, 10, 20}));
    EXPECT_EQ(pixel(199, 199), (std::vector<int>{0, 10, 20}));
    EXPECT_EQ(pixel(200, 0), (std::vector<int>{30, 40, 50}));
    EXPECT_EQ(pixel(599, 399), (std::vector<int>{150, 160, 170}));

    Picture empty;
    EXPECT_THROW(SetResize(empty), AppError);
}

TEST_F(Recompression, EveryPictureEndsInTheBox) {
    struct Case {
        int w, h, newW, newH;
    };
    const Case cases[] = {
        {4000, 3000, 600, 450}, {1000, 667, 600, 400}, {601, 450, 600, 449}, {300, 200, 600, 400},
        {3000, 4000, 600, 800}, {700, 750, 746, 800},  {599, 800, 599, 800}, {1000, 1000, 800, 800},
        {100, 100, 800, 800},   {4000, 1, 600, 1},
    };
    for (const Case& c : cases) {
        const test::JpegFacts out = test::factsOf(recompress(test::makeJpeg({c.w, c.h})));
        EXPECT_EQ(out.width, c.newW) << c.w << " x " << c.h;
        EXPECT_EQ(out.height, c.newH) << c.w << " x " << c.h;
    }
}

TEST_F(Recompression, EncodesWithTheBoundedQualityAndTheCodecDefaults) {
    const QByteArray input = test::makeJpeg({800, 600});
    struct Case {
        int given, used;
    };
    const Case cases[] = {{60, 60}, {-70, 70}, {0, 1}, {101, 100}, {INT_MIN, 100}};
    for (const Case& c : cases) {
        const test::JpegFacts out = test::factsOf(recompress(input, c.given));
        EXPECT_EQ(out.quantTables, test::expectedQuantTables(c.used)) << c.given;
        EXPECT_EQ(out.components, 3);
        EXPECT_EQ(out.colourSpace, JCS_YCbCr);
        EXPECT_TRUE(out.jfif);
        EXPECT_EQ(out.hSampling, (std::array<int, 3>{2, 1, 1}));
        EXPECT_EQ(out.vSampling, (std::array<int, 3>{2, 1, 1}));
    }
}

TEST_F(Recompression, LowQualitiesStayBaseline) {
    const QByteArray input = test::makeJpeg({800, 600});
    for (int quality = 1; quality <= 10; ++quality) {
        const test::JpegFacts out = test::factsOf(recompress(input, quality));
        EXPECT_TRUE(out.baseline) << quality;
        EXPECT_EQ(out.width, 600);
        EXPECT_EQ(out.height, 450);
        for (const auto& table : out.quantTables)
            for (const int entry : table) EXPECT_LE(entry, 255) << quality;
    }
}

TEST_F(Recompression, ProgressiveStaysProgressiveAndSequentialStaysSequential) {
    struct Case {
        Layout layout;
        bool progressive;
    };
    const Case cases[] = {{Layout::Ycc420, false},
                          {Layout::Ycc420, true},
                          {Layout::Ycc444, true},
                          {Layout::Grey, true},
                          {Layout::Grey, false}};
    for (const Case& c : cases) {
        JpegShape shape{640, 480, c.layout, c.progressive};
        const test::JpegFacts out = test::factsOf(recompress(test::makeJpeg(shape)));
        EXPECT_EQ(out.progressive, c.progressive) << static_cast<int>(c.layout);
        EXPECT_EQ(out.multipleScans, c.progressive) << static_cast<int>(c.layout);
    }
}

// Pixel (x, y) of a decoded output, to compare colours.
std::array<int, 3> pixelAt(const QByteArray& jpeg, int x, int y) {
    const Picture full = test::referenceDecode(jpeg);
    const std::uint8_t* p = full.row(y) + x * 3;
    return {p[0], p[1], p[2]};
}

void expectNear(const std::array<int, 3>& got, const std::array<int, 3>& want, const char* what) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 12) << what << " channel " << i;
}

TEST_F(Recompression, GreyscaleComesOutInColourWithItsGreys) {
    const test::PixelSource bands = [](int x, int, std::uint8_t* px) {
        px[0] = x < 100 ? 30 : (x < 200 ? 128 : 220);
    };
    const QByteArray out = recompress(test::makeJpeg({300, 200, Layout::Grey}, bands));
    const test::JpegFacts facts = test::factsOf(out);
    EXPECT_EQ(facts.components, 3);
    EXPECT_EQ(facts.colourSpace, JCS_YCbCr);
    expectNear(pixelAt(out, 100, 200), {30, 30, 30}, "dark");
    expectNear(pixelAt(out, 300, 200), {128, 128, 128}, "middle");
    expectNear(pixelAt(out, 500, 200), {220, 220, 220}, "light");
}

TEST_F(Recompression, CmykComesOutAsTheRightRgb) {
    // Five bands of ink: cyan, magenta, yellow, black, none.
    const test::PixelSource inks = [](int x, int, std::uint8_t* px) {
        const int band = x / 100;
        for (int i = 0; i < 4; ++i) px[i] = (i == band) ? 255 : 0;
    };
    const std::array<int, 3> expected[] = {
        {0, 255, 255}, {255, 0, 255}, {255, 255, 0}, {0, 0, 0}, {255, 255, 255}};
    for (const Layout layout : {Layout::CmykAdobe, Layout::CmykPlain, Layout::YcckAdobe}) {
        const QByteArray out = recompress(test::makeJpeg({500, 100, layout}, inks));
        EXPECT_EQ(test::factsOf(out).components, 3);
        for (int band = 0; band < 5; ++band)  // 500 -> 600 wide: bands 120 pixels apart
            expectNear(pixelAt(out, band * 120 + 60, 60), expected[band],
                       ("layout " + std::to_string(static_cast<int>(layout)) + " band " +
                        std::to_string(band))
                           .c_str());
    }
}

TEST_F(Recompression, WhatIsNotAJpegFailsAndLeavesNoAfterFile) {
    // A whole 1 x 1 PNG.
    const QByteArray png = QByteArray::fromHex(
        "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
        "1f15c4890000000d49444154789c6360f8cfc0f01f0005000201a5f5"
        "3d520000000049454e44ae426082");
    const QByteArray bmp = QByteArray::fromHex(
        "424d3a0000000000000036000000280000000100000001000000010018000000"
        "000004000000130b0000130b00000000000000000000ff000000");
    const QByteArray jpeg = test::makeJpeg({64, 48});
    struct Case {
        const char* what;
        std::optional<QByteArray> content;
    };
    const Case cases[] = {
        {"png", png},
        {"bmp", bmp},
        {"empty", QByteArray()},
        {"text", QByteArray("not a photo at all")},
        {"start of image only", QByteArray::fromHex("ffd8")},
        {"header cut before the frame", jpeg.left(30)},
        {"missing file", std::nullopt},
    };
    for (const Case& c : cases) {
        QFile::remove(before());
        if (c.content) test::writeFile(before(), *c.content);
        EXPECT_THROW(SetJPGCompression(60, before(), after()), AppError) << c.what;
        EXPECT_FALSE(QFile::exists(after())) << c.what;
    }
}

TEST_F(Recompression, TruncatedOrDamagedJpegStillGivesAPicture) {
    const QByteArray whole = test::makeJpeg({1000, 750});
    QByteArray damaged = whole;
    for (qsizetype i = whole.size() / 2; i < whole.size() / 2 + 64; ++i) damaged[i] = '\x5A';
    for (const QByteArray& input : {whole.left(whole.size() / 2), damaged}) {
        const test::JpegFacts out = test::factsOf(recompress(input));
        EXPECT_EQ(out.width, 600);
        EXPECT_EQ(out.height, 450);
    }
}

TEST_F(Recompression, NoExtensionMeansNothingAndNoFile) {
    const QByteArray jpeg = test::makeJpeg({64, 48});
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("fotos.antes")));
    const QString inDottedFolder = folder.path(QStringLiteral("fotos.antes/1__FOTO001"));
    test::writeFile(inDottedFolder, jpeg);
    EXPECT_EQ(SetJPGCompression(60, inDottedFolder, after()), std::nullopt);
    EXPECT_EQ(SetJPGCompression(60, folder.path(QStringLiteral("absent")), after()), std::nullopt);
    EXPECT_FALSE(QFile::exists(after()));

    // A name ending in a dot, or a dot and a blank, has an extension.
    for (const QString& name : {QStringLiteral("1__foto."), QStringLiteral("1__foto. ")}) {
        test::writeFile(before(name), jpeg);
        const std::optional<QByteArray> out = SetJPGCompression(60, before(name), after());
        ASSERT_TRUE(out.has_value()) << name.toStdString();
        EXPECT_EQ(*out, test::readFile(after()));
        QFile::remove(after());
    }
}

TEST_F(Recompression, OverwritesTheAfterFileWithExactlyTheStream) {
    test::writeFile(after(), QByteArray(2'000'000, 'x'));
    const QByteArray out = recompress(test::makeJpeg({640, 480}));
    EXPECT_LT(out.size(), 2'000'000);
    EXPECT_EQ(out.left(2), QByteArray::fromHex("ffd8"));
    EXPECT_EQ(out.right(2), QByteArray::fromHex("ffd9"));
}

TEST_F(Recompression, AnAfterFileThatCannotBeWrittenIsAnError) {
    test::writeFile(before(), test::makeJpeg({64, 48}));
    const QString unwritable = folder.path(QStringLiteral("no such folder/1 foto.jpg"));
    EXPECT_THROW(SetJPGCompression(60, before(), unwritable), AppError);
    EXPECT_FALSE(QFile::exists(unwritable));
}

TEST_F(Recompression, ForgedHugeFrameIsRefusedWithoutTakingItsMemory) {
    const QByteArray forged = test::withFrameSize(test::makeJpeg({64, 48}), 65000, 65000);
    test::writeFile(before(), forged);
    try {
        SetJPGCompression(60, before(), after());
        ADD_FAILURE() << "a 65000 x 65000 frame was accepted";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("65000 x 65000"))) << e.what();
    }
    EXPECT_FALSE(QFile::exists(after()));
}

}  // namespace
}  // namespace patrimonio
