#include <gtest/gtest.h>

#include "QStringPrinter.h"
#include "core/Amounts.h"

namespace patrimonio {
namespace {

// Where a unit changes, a report must not say "60,0 s" nor "1 min 60 s".
TEST(Amounts, DurationsAtTheEdgesOfTheirUnits) {
    const struct {
        std::int64_t ms;
        const char* text;
    } cases[] = {
        {-5, "0,0 s"},
        {0, "0,0 s"},
        {449, "0,4 s"},
        {59949, "59,9 s"},
        {59950, "1 min 00 s"},
        {61400, "1 min 01 s"},
        {3599499, "59 min 59 s"},
        {3599500, "1 h 00 min"},
        {3600000 + 29000, "1 h 00 min"},
        {3600000 * 25 + 60000 * 7, "25 h 07 min"},
    };
    for (const auto& c : cases) EXPECT_EQ(durationText(c.ms), QString::fromUtf8(c.text)) << c.ms;
}

TEST(Amounts, SizesAndRates) {
    EXPECT_EQ(sizeText(0), "0 KB");
    EXPECT_EQ(sizeText(1), "1 KB");
    EXPECT_EQ(sizeText(1024 * 1024 - 1), "1024 KB");
    EXPECT_EQ(sizeText(415LL * 1024 * 1024 + 300 * 1024), "415,3 MB");
    EXPECT_EQ(sizeText(3LL * 1024 * 1024 * 1024 / 2), "1,5 GB");
    EXPECT_EQ(rowRateText(200000, 7900), "25316 linhas/s");
    // Too short a time to say anything true.
    EXPECT_EQ(rowRateText(12, 99), "-");
    EXPECT_EQ(rowRateText(0, 1000), "0 linhas/s");
}

}  // namespace
}  // namespace patrimonio
