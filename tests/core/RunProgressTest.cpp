// The whole run's share done and time left, on simulated runs driven by a hand-moved clock:
// each step of a run takes the time a real one takes (rows, photos by their size, one-second
// pauses, a message box left open), and the estimate is read once a simulated second, as the
// window does.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "QStringPrinter.h"
#include "core/RunProgress.h"

namespace patrimonio {
namespace {

// One thing a simulated run does: work reported when done, a pause of the plan, or time spent
// waiting on something else with nothing reported.
struct Step {
    enum class Kind { Work, Pause, Stall };
    Kind kind;
    std::int64_t rows = 0;
    std::int64_t photoBytes = 0;
    double ms = 0;
};

Step work(std::int64_t rows, std::int64_t bytes, double ms) {
    return {Step::Kind::Work, rows, bytes, ms};
}
Step pause() {
    return {Step::Kind::Pause, 0, 0, 1000};
}
Step stall(double ms) {
    return {Step::Kind::Stall, 0, 0, ms};
}

// A wait this long is nothing an estimate can foresee: the truth it is held to leaves it out.
constexpr double kLongWaitMs = 60'000;

bool isLongWait(const Step& s) {
    return s.kind == Step::Kind::Stall && s.ms >= kLongWaitMs;
}

struct Reading {
    double atMs;
    double trueLeftMs;  // the run's time still to come, long waits left out
    bool waiting;       // read during a long wait
    RunProgressReading got;
};

// Plays the steps against an estimator planned with what they add up to, reading it every
// simulated second and after every step; finish() after the last.
class SimulatedRun {
public:
    explicit SimulatedRun(std::vector<Step> steps) : steps_(std::move(steps)) {
        for (const Step& s : steps_) {
            plan_.rows += s.rows;
            plan_.photoBytes += s.photoBytes;
            if (s.kind == Step::Kind::Pause) ++plan_.pauses;
            totalMs_ += s.ms;
        }
    }

    const RunWork& plan() const { return plan_; }
    double totalMs() const { return totalMs_; }

    std::vector<Reading> play() {
        double nowMs = 0;
        RunProgress progress(plan_, [&nowMs] { return static_cast<std::int64_t>(nowMs); });
        double foreseeableLeftMs = 0;
        for (const Step& s : steps_) foreseeableLeftMs += isLongWait(s) ? 0 : s.ms;
        std::vector<Reading> readings;
        for (const Step& s : steps_) {
            // Time passes through the step, read at every whole second on the way.
            const double startMs = nowMs;
            const double endMs = nowMs + s.ms;
            const bool waiting = isLongWait(s);
            for (double tick = std::floor(nowMs / 1000) * 1000 + 1000; tick < endMs; tick += 1000) {
                nowMs = tick;
                const double left = foreseeableLeftMs - (waiting ? 0 : tick - startMs);
                readings.push_back({nowMs, left, waiting, progress.read()});
            }
            nowMs = endMs;
            if (!waiting) foreseeableLeftMs -= s.ms;
            if (s.kind == Step::Kind::Work) progress.advance(s.rows, s.photoBytes);
            if (s.kind == Step::Kind::Pause) progress.paused();
            readings.push_back({nowMs, foreseeableLeftMs, false, progress.read()});
        }
        progress.finish();
        readings.push_back({nowMs, 0, false, progress.read()});
        return readings;
    }

private:
    std::vector<Step> steps_;
    RunWork plan_;
    double totalMs_ = 0;
};

// What must hold for every run: the share never goes back and is 100 only at the end; the
// time left is shown only after 30 s, is never negative and falls toward zero (a rise only
// as a rate is learned anew, small beside what is left).
void expectSaneReadings(const std::vector<Reading>& readings) {
    ASSERT_FALSE(readings.empty());
    int lastPercent = 0;
    std::optional<std::int64_t> lastLeft;
    for (size_t i = 0; i < readings.size(); ++i) {
        const Reading& r = readings[i];
        SCOPED_TRACE(testing::Message() << "at " << r.atMs / 1000 << " s");
        EXPECT_GE(r.got.percent, lastPercent);
        lastPercent = r.got.percent;
        const bool last = i + 1 == readings.size();
        if (last) {
            EXPECT_EQ(r.got.percent, 100);
            EXPECT_EQ(r.got.secondsLeft, std::optional<std::int64_t>(0));
            continue;
        }
        EXPECT_LT(r.got.percent, 100);
        if (r.atMs < RunProgress::kQuietStartMs) {
            EXPECT_FALSE(r.got.secondsLeft) << *r.got.secondsLeft;
            continue;
        }
        ASSERT_TRUE(r.got.secondsLeft);
        EXPECT_GE(*r.got.secondsLeft, 0);
        if (lastLeft) {
            EXPECT_LE(*r.got.secondsLeft, *lastLeft + std::max<std::int64_t>(2, *lastLeft / 20));
        }
        lastLeft = r.got.secondsLeft;
    }
}

// The estimate against the truth, over the readings from `fromMs` until `untilMs`.
void expectCloseToTheTruth(const std::vector<Reading>& readings, double fromMs, double untilMs,
                           double share, double slackS) {
    int checked = 0;
    for (const Reading& r : readings) {
        if (r.atMs < fromMs || r.atMs > untilMs || r.waiting || !r.got.secondsLeft) continue;
        const double trueS = r.trueLeftMs / 1000;
        EXPECT_NEAR(static_cast<double>(*r.got.secondsLeft), trueS, trueS * share + slackS)
            << "at " << r.atMs / 1000 << " s";
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

// An import: the purge's twelve pauses, a few small tables written row by row, the assets in
// pages of 100 with photos that go from 4 MB down to 40 KB, then depreciations written 500 at
// a time. A photo costs by its size plus a little per photo, as decoding does.
std::vector<Step> importWithShrinkingPhotos(int assets) {
    std::vector<Step> steps;
    for (int i = 0; i < 12; ++i) {
        steps.push_back(stall(150));  // the DELETE itself, not in the plan
        steps.push_back(pause());
    }
    for (int table = 0; table < 4; ++table) {
        steps.push_back(pause());
        for (int i = 0; i < 20; ++i) steps.push_back(work(1, 0, 0.7));
    }
    for (int a = 0; a < assets; ++a) {
        if (a % 100 == 0) steps.push_back(pause());
        const double big = 4'000'000, small = 40'000;
        const auto bytes = static_cast<std::int64_t>(big - (big - small) * a / (assets - 1));
        steps.push_back(work(1, bytes, 2.0 + static_cast<double>(bytes) / 40'000.0));
    }
    steps.push_back(pause());
    for (int i = 0; i < 2000; ++i) steps.push_back(work(1, 0, i % 500 == 499 ? 25.0 : 0.05));
    return steps;
}

TEST(RunProgress, PhotosLargeFirstThenSmall) {
    SimulatedRun run(importWithShrinkingPhotos(4000));
    const std::vector<Reading> readings = run.play();
    expectSaneReadings(readings);
    // Learned by the byte, the shrinking photos do not fool the estimate (a rate per photo,
    // learned on the large first ones, would say about twice the time left half-way).
    expectCloseToTheTruth(readings, 45'000, run.totalMs() - 20'000, 0.2, 5);
}

// A photo-only pass: batches of 50 rows, each after its one-second pause, four rows in five
// with a photo of about 1.5 MB; half-way, in the middle of a batch, the pass waits five
// minutes on a message box the operator leaves open.
std::vector<Step> photoPassWithALongWait(int rows) {
    std::vector<Step> steps;
    for (int r = 0; r < rows; ++r) {
        if (r % 50 == 0) {
            steps.push_back(pause());
            steps.push_back(stall(40));  // the batch's rows fetched
        }
        if (r == rows / 2 + 17) steps.push_back(stall(300'000));
        if (r % 5 == 4) {
            steps.push_back(work(1, 0, 0.3));
        } else {
            const std::int64_t bytes = 1'200'000 + (r * 7919) % 600'000;
            steps.push_back(work(1, bytes, 4.0 + static_cast<double>(bytes) / 40'000.0));
        }
    }
    steps.push_back(pause());  // the last, empty batch
    return steps;
}

TEST(RunProgress, PassWithPausesAndALongWait) {
    SimulatedRun run(photoPassWithALongWait(4000));
    const std::vector<Reading> readings = run.play();
    expectSaneReadings(readings);

    // During the wait the time left is not counted down to zero, and after it the five
    // minutes are not learned as the cost of the photo that followed them: before and after,
    // the estimate is that of the work alone.
    std::optional<std::int64_t> beforeWait;
    double waitEndsMs = 0;
    for (const Reading& r : readings) {
        if (!r.waiting) {
            if (waitEndsMs == 0) beforeWait = r.got.secondsLeft;
            continue;
        }
        ASSERT_TRUE(beforeWait);
        ASSERT_TRUE(r.got.secondsLeft);
        EXPECT_GE(*r.got.secondsLeft, *beforeWait - 2) << "at " << r.atMs / 1000 << " s";
        waitEndsMs = r.atMs;
    }
    ASSERT_GT(waitEndsMs, 0);
    expectCloseToTheTruth(readings, 45'000, run.totalMs() - 10'000, 0.15, 5);
}

TEST(RunProgress, TheShareWaitsForTheEndAndForNoWorkAtAll) {
    std::int64_t now = 0;
    const MsClock clock = [&now] { return now; };
    {
        // An empty table and no pause: nothing to measure the share by until the end.
        RunProgress nothing(RunWork{}, clock);
        now = 40'000;
        EXPECT_EQ(nothing.read().percent, 0);
        nothing.finish();
        EXPECT_EQ(nothing.read().percent, 100);
    }
    {
        // More rows than were counted (another program added some): the share stops short of
        // 100 and nothing is left to wait for, until the run says it has ended.
        RunProgress more(RunWork{100, 0, 0}, clock);
        for (int i = 0; i < 300; ++i) {
            now += 200;
            more.advance(1);
        }
        const RunProgressReading r = more.read();
        EXPECT_EQ(r.percent, 99);
        EXPECT_EQ(r.secondsLeft, std::optional<std::int64_t>(0));
        more.finish();
        EXPECT_EQ(more.read().percent, 100);
        EXPECT_EQ(more.line(), QStringLiteral("Progresso total: 100%"));
    }
}

TEST(RunProgress, LineForEachTimeLeft) {
    struct Case {
        int percent;
        std::optional<std::int64_t> seconds;
        const char* line;
    };
    const Case cases[] = {
        {0, std::nullopt, "Progresso total: 0%"},
        {42, std::nullopt, "Progresso total: 42%"},
        {42, 0, "Progresso total: 42% — falta menos de 1 min"},
        {42, 59, "Progresso total: 42% — falta menos de 1 min"},
        {42, 60, "Progresso total: 42% — falta cerca de 1 min"},
        {42, 89, "Progresso total: 42% — falta cerca de 1 min"},
        {42, 90, "Progresso total: 42% — faltam cerca de 2 min"},
        {42, 12 * 60, "Progresso total: 42% — faltam cerca de 12 min"},
        {42, 14 * 60 + 29, "Progresso total: 42% — faltam cerca de 14 min"},
        {42, 14 * 60 + 30, "Progresso total: 42% — faltam cerca de 15 min"},
        {42, 42 * 60, "Progresso total: 42% — faltam cerca de 40 min"},
        {42, 43 * 60, "Progresso total: 42% — faltam cerca de 45 min"},
        {42, 57 * 60, "Progresso total: 42% — faltam cerca de 55 min"},
        {42, 58 * 60, "Progresso total: 42% — falta cerca de 1 h"},
        {42, 64 * 60, "Progresso total: 42% — falta cerca de 1 h"},
        {42, 80 * 60, "Progresso total: 42% — faltam cerca de 1 h 20 min"},
        {42, 125 * 60, "Progresso total: 42% — faltam cerca de 2 h 10 min"},
        {42, 2 * 3600, "Progresso total: 42% — faltam cerca de 2 h"},
        {42, 9 * 3600 + 56 * 60, "Progresso total: 42% — faltam cerca de 10 h"},
        {42, 12 * 3600 + 20 * 60, "Progresso total: 42% — faltam cerca de 12 h"},
        {99, 0, "Progresso total: 99% — falta menos de 1 min"},
        {100, 0, "Progresso total: 100%"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(progressLine({c.percent, c.seconds}), QString::fromUtf8(c.line))
            << c.percent << "% " << (c.seconds ? *c.seconds : -1) << " s";
    }
}

TEST(RefreshThrottle, AtMostOncePerSecond) {
    std::int64_t now = 5'000;
    RefreshThrottle throttle([&now] { return now; });
    struct Tick {
        std::int64_t at;
        bool due;
    };
    const Tick ticks[] = {{5'000, true},  {5'000, false}, {5'400, false},
                          {5'999, false}, {6'000, true},  {6'500, false},
                          {8'300, true},  {9'299, false}, {9'300, true}};
    for (const Tick& t : ticks) {
        now = t.at;
        EXPECT_EQ(throttle.due(), t.due) << "at " << t.at;
    }
}

}  // namespace
}  // namespace patrimonio
