#pragma once
// How far the whole run is and how long it still takes, for the one line the window shows
// under the gauge. A run counts at its start what it will do (RunWork), reports what it has
// done as it goes, and reads back the share done and the time left.
//
// The time left is learned from the rates the run itself reaches, kind by kind: rows per
// second and photo bytes per second are measured apart, because a photo costs by its size
// (a camera photo of 4 MB takes many times what a 100 KB one takes) while a row costs about
// the same as the next; the pauses at the start of phases, pages and batches are known to
// last a second each. Rates follow the recent past (a decay of about two minutes of each
// kind's own work), so a run whose photos shrink as it goes is not held to the rate of its
// first photos.
//
// One thread feeds and reads an estimator: the run's. What the window needs is the line.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace patrimonio {

// What a run will do, or has done, by kind of work.
struct RunWork {
    std::int64_t rows = 0;        // rows copied or walked, with or without a photo
    std::int64_t photoBytes = 0;  // bytes of the stored photos recompressed
    std::int64_t pauses = 0;      // pauses of one second (phases, pages, batches)
};

// Milliseconds from a fixed point; a steady clock in the program, a hand-moved one in tests.
using MsClock = std::function<std::int64_t()>;
MsClock steadyMsClock();

// Share done and time left at one moment.
struct RunProgressReading {
    int percent = 0;                          // 0 to 100
    std::optional<std::int64_t> secondsLeft;  // none during the first 30 s or until learned
};

class RunProgress {
public:
    // The time left is shown only after this much of the run.
    static constexpr std::int64_t kQuietStartMs = 30000;
    static constexpr std::int64_t kPauseMs = 1000;

    explicit RunProgress(const RunWork& plan, MsClock clock = steadyMsClock());

    // Work done since the last report: rows, and the bytes of the stored photos among them.
    // Report a row with its photo in one call, after the photo.
    void advance(std::int64_t rows, std::int64_t photoBytes = 0);
    // A pause of the plan has just ended (report it after the wait, not before). The time
    // since the last report, the pause and what opened the phase before it, teaches nothing
    // about the rates.
    void paused();
    // The run has ended: 100 % and nothing left, whatever the counts say.
    void finish();

    // Never lower than an earlier reading; 100 only after finish(). The time left is never
    // negative; between two reports it runs down with the clock for as long as a report
    // usually takes to come, and then waits for the next report.
    RunProgressReading read();
    // The window's line for read().
    QString line();

    const RunWork& plan() const { return plan_; }
    const RunWork& done() const { return done_; }

private:
    // What the run has taught about one kind of work: amount and milliseconds, both decaying
    // as more of that kind is learned.
    struct Rate {
        double amount = 0;
        double ms = 0;
        bool learned() const { return amount > 0 && ms > 0; }
        void learn(double moreAmount, double moreMs);
    };

    double rowMs() const;
    double byteMs() const;
    // Milliseconds the planned work still takes, as of the last report.
    double leftAtLastReportMs() const;
    int shareOfPlan() const;

    RunWork plan_;
    RunWork done_;
    MsClock clock_;
    std::int64_t startMs_;
    std::int64_t lastEventMs_;
    // The last event was a report of work, so the time since then is that work's.
    bool lastEventWasWork_ = false;
    Rate rows_;
    Rate bytes_;
    // Usual time between two reports of work (for running the time left down between them).
    double reportGapMs_ = 0;
    int floorPercent_ = 0;
    bool finished_ = false;
};

// "Progresso total: 42%" and, with the time left, " — faltam cerca de 12 min"; the time is
// rounded more coarsely as it grows (minutes, five minutes, ten minutes, hours).
QString progressLine(const RunProgressReading& reading);

// Lets a refresh through at most once per interval: the first call, then the first call at
// least `intervalMs` after the last one let through.
class RefreshThrottle {
public:
    explicit RefreshThrottle(MsClock clock = steadyMsClock(), std::int64_t intervalMs = 1000)
        : clock_(std::move(clock)), intervalMs_(intervalMs) {}
    bool due();

private:
    MsClock clock_;
    std::int64_t intervalMs_;
    std::optional<std::int64_t> lastMs_;
};

}  // namespace patrimonio
