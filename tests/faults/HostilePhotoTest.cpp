// Photos whose header claims an enormous picture: the recompression either refuses them before
// decoding, with a message naming the size, or samples them within a bounded amount of memory
// and time. It never needs the whole picture.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

#include "JpegFixtures.h"
#include "PeakMemory.h"
#include "TestDatabase.h"
#include "core/Errors.h"
#include "photos/JpegRecompressor.h"

namespace patrimonio::test {

namespace {

enum class Outcome {
    Picture,         // sampled into the box
    RefusedBySize,   // refused before decoding, with a message naming the size
    RefusedByCodec,  // the codec refuses the header itself
};

struct Hostile {
    const char* name;
    int width;
    int height;
    bool progressive;
    Outcome outcome;
};

// Sanitizer builds keep shadow memory and a quarantine of freed blocks; the bound is for the
// program as shipped.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMeasurable = false;
#else
constexpr bool kMeasurable = true;
#endif
#else
constexpr bool kMeasurable = true;
#endif

// The decoder lets the codec take up to 512 MB for the coefficients of a progressive photo (about
// 170 megapixels); a sequential one needs a few rows of buffers only.
constexpr long long kPeakBoundKiB = 600 * 1024;

}  // namespace

TEST(HostilePhoto, EnormousHeadersAreRefusedOrSampledWithinBoundedMemory) {
    const Hostile cases[] = {
        {"sequential 65000 x 65000", 65000, 65000, false, Outcome::RefusedBySize},
        {"progressive 65000 x 65000", 65000, 65000, true, Outcome::RefusedBySize},
        {"progressive 20000 x 20000", 20000, 20000, true, Outcome::RefusedBySize},
        {"sequential 65535 x 1", 65535, 1, false, Outcome::RefusedByCodec},
        {"sequential 65500 x 1", 65500, 1, false, Outcome::Picture},
        {"sequential 20000 x 20000", 20000, 20000, false, Outcome::Picture},
        {"progressive 12000 x 12000", 12000, 12000, true, Outcome::Picture},
    };
    TempFolder folder;
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray small = makeJpeg({64, 48, Layout::Ycc420, c.progressive});
        const QString before = folder.path(QStringLiteral("7__forged.jpg"));
        const QString after = folder.path(QStringLiteral("7 forged.jpg"));
        writeFile(before, withFrameSize(small, c.width, c.height));

        const bool measured = kMeasurable && resetPeakMemory();
        const long long startKiB = residentMemoryKiB();
        QElapsedTimer clock;
        clock.start();
        try {
            const std::optional<QByteArray> out = SetJPGCompression(60, before, after);
            EXPECT_EQ(c.outcome, Outcome::Picture) << "the forged photo was decoded";
            EXPECT_TRUE(out.has_value());
        } catch (const AppError& e) {
            EXPECT_NE(c.outcome, Outcome::Picture) << e.what();
            if (c.outcome == Outcome::RefusedBySize) {
                EXPECT_TRUE(
                    e.message().contains(QStringLiteral("%1 x %2").arg(c.width).arg(c.height)))
                    << e.what();
            }
        }
        const qint64 ms = clock.elapsed();
        const long long peakKiB = peakMemoryKiB() - startKiB;
        std::printf("[ hostile  ] %s: %lld ms, peak %lld KiB above the start\n", c.name,
                    static_cast<long long>(ms), measured ? peakKiB : -1LL);
        if (measured) {
            EXPECT_LT(peakKiB, kPeakBoundKiB);
        }
        EXPECT_LT(ms, 60000);
    }
}

// A few kilobytes of scans that hold next to no data, over a frame of tens of megapixels: every
// scan makes the codec go over all the blocks of the components it covers, and the codec keeps
// every coefficient until the last one. Such a file is refused before the codec takes that
// memory, however few scans it holds below the scan limit.
TEST(HostilePhoto, CraftedManyScanFilesAreRefusedAtOnce) {
    struct Crafted {
        const char* name;
        Layout layout;
        int copies;  // of the simple script's scan sequence (6 scans for grey, 10 for colour)
        int side;
    };
    const Crafted cases[] = {
        {"grey, 996 scans, 8000 x 8000", Layout::Grey, 166, 8000},
        {"grey, 996 scans, 16000 x 16000", Layout::Grey, 166, 16000},
        {"grey, 60 scans, 8000 x 8000", Layout::Grey, 10, 8000},
        {"4:4:4, 990 scans, 8000 x 8000", Layout::Ycc444, 99, 8000},
        {"4:2:0, 200 scans, 12000 x 12000", Layout::Ycc420, 20, 12000},
    };
    constexpr long long kRefusalBoundKiB = 64 * 1024;
    TempFolder folder;
    for (const Crafted& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray small = makeJpeg({8, 8, c.layout, true});
        const QByteArray crafted =
            withFrameSize(withScansRepeated(small, c.copies), c.side, c.side);
        const QString before = folder.path(QStringLiteral("7__crafted.jpg"));
        const QString after = folder.path(QStringLiteral("7 crafted.jpg"));
        writeFile(before, crafted);

        const bool measured = kMeasurable && resetPeakMemory();
        const long long startKiB = residentMemoryKiB();
        QElapsedTimer clock;
        clock.start();
        try {
            SetJPGCompression(60, before, after);
            ADD_FAILURE() << "the crafted photo was decoded";
        } catch (const AppError& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("too costly"))) << e.what();
        }
        const qint64 ms = clock.elapsed();
        const long long peakKiB = peakMemoryKiB() - startKiB;
        std::printf("[ crafted  ] %s (%lld bytes): %lld ms, peak %lld KiB above the start\n",
                    c.name, static_cast<long long>(crafted.size()), static_cast<long long>(ms),
                    measured ? peakKiB : -1LL);
        EXPECT_LT(ms, 1000);
        if (measured) {
            EXPECT_LT(peakKiB, kRefusalBoundKiB);
        }
        EXPECT_FALSE(QFile::exists(after));
    }
}

}  // namespace patrimonio::test
