#include "BenchTiming.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "BenchSupport.h"

namespace patrimonio::bench {

double secondsOf(const std::function<void()>& what) {
    const double started = wallMs();
    what();
    return (wallMs() - started) / 1000.0;
}

std::vector<double> bestOf(int rounds, std::initializer_list<std::function<double()>> sides) {
    std::vector<double> best(sides.size(), std::numeric_limits<double>::infinity());
    for (int round = 0; round < rounds; ++round) {
        std::size_t i = 0;
        for (const auto& side : sides) {
            best[i] = std::min(best[i], side());
            ++i;
        }
    }
    return best;
}

const char* verdict(bool met) {
    return met ? "ok" : "SHORT";
}

bool resultLine(const QString& what, double figure, const char* unit, Goal goal) {
    const bool met = goal.metBy(figure);
    std::printf("   %s %.2f%s (goal %s %.2f%s): %s\n", qPrintable(what), figure, unit,
                goal.bound == Goal::Bound::AtMost ? "at most" : "at least", goal.value, unit,
                verdict(met));
    return met;
}

}  // namespace patrimonio::bench
