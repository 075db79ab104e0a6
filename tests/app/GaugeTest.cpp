// The window's gauge: its percentage and range rules as the steps drive it, and what it paints.

#include <gtest/gtest.h>

#include <QImage>

#include "QtEnvironment.h"
#include "app/Gauge.h"

namespace patrimonio::test {

namespace {

QImage paint(Gauge& g) {
    g.resize(378, 37);
    return g.grab().toImage();
}

bool isBarGreen(QColor c) {
    return c.red() < 30 && c.green() > 100 && c.blue() < 30;
}

bool isDark(QColor c) {
    return c.red() < 110 && c.green() < 110 && c.blue() < 110;
}
bool isLight(QColor c) {
    return c.red() > 180 && c.green() > 180 && c.blue() > 180;
}

// Pixels that pass the test in the middle of the gauge, where the percentage is drawn.
template <typename Test>
int countPixels(const QImage& img, Test test) {
    int n = 0;
    for (int y = 8; y < img.height() - 8; ++y)
        for (int x = 150; x < 230; ++x)
            if (test(img.pixelColor(x, y))) ++n;
    return n;
}

}  // namespace

TEST(Gauge, FollowsTheRangeRules) {
    struct Case {
        int min, max, progress;
        int shownProgress, percent;
    };
    const Case cases[] = {
        {0, 100, 0, 0, 0},    {0, 3, 1, 1, 33},  {0, 3, 2, 2, 66}, {0, 0, 5, 0, 0},
        {0, 10, 25, 10, 100}, {0, 10, -4, 0, 0}, {5, 10, 1, 5, 0}, {0, 7, 7, 7, 100},
    };
    for (const Case& c : cases) {
        Gauge g;
        g.setMinimum(c.min);
        g.setMaximum(c.max);
        g.setProgress(c.progress);
        EXPECT_EQ(g.progress(), c.shownProgress) << c.min << ".." << c.max << " at " << c.progress;
        EXPECT_EQ(g.percent(), c.percent) << c.min << ".." << c.max << " at " << c.progress;
    }

    Gauge g;
    g.setProgress(80);
    g.setMaximum(50);  // lowering the maximum drags the progress down
    EXPECT_EQ(g.progress(), 50);
    g.setProgress(10);
    g.setMinimum(20);  // raising the minimum drags it up
    EXPECT_EQ(g.progress(), 20);
}

TEST(Gauge, AsksForARepaintOnlyWhenThePercentageChanges) {
    Gauge g;
    g.setMaximum(1000);
    const int start = g.repaintRequests();
    for (int row = 1; row <= 9; ++row) g.setProgress(row);  // still 0%
    EXPECT_EQ(g.repaintRequests(), start);
    g.setProgress(10);  // 1%
    EXPECT_EQ(g.repaintRequests(), start + 1);
    for (int row = 11; row <= 19; ++row) g.setProgress(row);
    EXPECT_EQ(g.repaintRequests(), start + 1);
    g.setMaximum(20);  // 19 of 20: 95%
    EXPECT_EQ(g.repaintRequests(), start + 2);
}

TEST(Gauge, PaintsBarBorderAndReadableText) {
    Gauge g;
    QImage empty = paint(g);
    EXPECT_EQ(empty.pixelColor(0, 0), QColor(Qt::black));  // border
    EXPECT_EQ(empty.pixelColor(377, 36), QColor(Qt::black));
    EXPECT_EQ(empty.pixelColor(5, 18), QColor(Qt::white));  // nothing filled at 0%
    EXPECT_GT(countPixels(empty, isDark), 10);              // "0%" drawn dark on white

    g.setProgress(50);
    QImage half = paint(g);
    const int inner = 376;
    const int filled = inner / 2;
    EXPECT_TRUE(isBarGreen(half.pixelColor(1 + filled - 2, 5)));
    EXPECT_EQ(half.pixelColor(1 + filled + 2, 5), QColor(Qt::white));

    g.setProgress(100);
    QImage full = paint(g);
    EXPECT_TRUE(isBarGreen(full.pixelColor(375, 5)));
    // Over the bar the text turns white, so it stays readable.
    EXPECT_GT(countPixels(full, isLight), 10);
    EXPECT_EQ(countPixels(full, isDark), 0);

    Gauge degenerate;
    degenerate.setMaximum(0);
    degenerate.setProgress(7);
    QImage none = paint(degenerate);
    EXPECT_EQ(none.pixelColor(5, 18), QColor(Qt::white));
}

}  // namespace patrimonio::test
