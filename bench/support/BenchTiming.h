#pragma once
// Timing and the result line: the machine is shared and its speed drifts, so the sides of a
// comparison run in turn, round after round, and each keeps its best round; a figure held to a
// goal is printed in one form by every benchmark.

#include <QString>
#include <functional>
#include <initializer_list>
#include <vector>

namespace patrimonio::bench {

// Seconds of monotonic time that `what` takes.
double secondsOf(const std::function<void()>& what);

// Each side returns the seconds it measured (its own part of the work, or secondsOf it). The
// sides run in turn, `rounds` times; returns each side's best, in the order given.
std::vector<double> bestOf(int rounds, std::initializer_list<std::function<double()>> sides);

// Rows (or photos) per second.
inline double perSecond(double count, double seconds) {
    return seconds > 0 ? count / seconds : 0;
}

// "ok" when the goal is met, "SHORT" when it is not.
const char* verdict(bool met);

struct Goal {
    enum class Bound { AtMost, AtLeast };
    Bound bound;
    double value;
    bool metBy(double figure) const {
        return bound == Bound::AtMost ? figure <= value : figure >= value;
    }
};
inline Goal atMost(double value) {
    return {Goal::Bound::AtMost, value};
}
inline Goal atLeast(double value) {
    return {Goal::Bound::AtLeast, value};
}

// "   <what> <figure><unit> (goal <bound> <value>): ok|SHORT"; returns whether it is met.
bool resultLine(const QString& what, double figure, const char* unit, Goal goal);

}  // namespace patrimonio::bench
