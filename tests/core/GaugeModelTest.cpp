#include <gtest/gtest.h>

#include "core/GaugeModel.h"

namespace patrimonio {

TEST(GaugeModel, StartsAtZeroPercentOfHundred) {
    GaugeModel g;
    EXPECT_EQ(g.minimum(), 0);
    EXPECT_EQ(g.maximum(), 100);
    EXPECT_EQ(g.percent(), 0);
    EXPECT_EQ(g.filledWidth(376), 0);
}

TEST(GaugeModel, PercentTruncatesTowardsZero) {
    struct Case { int min, max, progress, percent; };
    const Case cases[] = {{0, 3, 1, 33}, {0, 3, 2, 66}, {0, 3, 3, 100}, {0, 0, 5, 0},
                          {10, 20, 15, 50}, {0, 7, 1, 14}};
    for (const auto& c : cases) {
        GaugeModel g;
        g.setMinimum(c.min);
        g.setMaximum(c.max);
        g.setProgress(c.progress);
        EXPECT_EQ(g.percent(), c.percent) << c.min << ".." << c.max << " at " << c.progress;
    }
}

TEST(GaugeModel, ProgressIsClampedAndFollowsRangeChanges) {
    GaugeModel g;
    g.setProgress(150);
    EXPECT_EQ(g.progress(), 100);
    g.setMaximum(3);  // lowering the maximum drags the progress down
    EXPECT_EQ(g.progress(), 3);
    g.setProgress(-4);
    EXPECT_EQ(g.progress(), 0);
    g.setMinimum(2);  // raising the minimum drags it up
    EXPECT_EQ(g.progress(), 2);
    g.setMaximum(0);
    g.setMinimum(0);
    EXPECT_EQ(g.percent(), 0);
}

TEST(GaugeModel, FilledWidthIsWithinInnerArea) {
    GaugeModel g;
    g.setProgress(37);
    EXPECT_EQ(g.filledWidth(376), 139);  // 37 * 0.01 * 376 = 139.12
    g.setProgress(100);
    EXPECT_EQ(g.filledWidth(376), 376);
}

}  // namespace patrimonio
