#include "core/RunProgress.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <memory>

namespace patrimonio {

namespace {

// Until the run has shown its own rates: a row written through the server, and a camera
// photo's bytes recompressed on two cores (about 50 MB/s).
constexpr double kPriorRowMs = 0.5;
constexpr double kPriorByteMs = 1.0 / 50'000.0;
// How far back the rates look, in each kind's own working time.
constexpr double kDecayMs = 120'000.0;
// A report that comes this much later than its work should take, and over 10 s late, waited
// on something else (a message box the operator left open, a server that stalled): the rates
// do not learn from it.
constexpr double kStallFactor = 10.0;
constexpr double kStallMs = 10'000.0;
// How quickly the usual time between reports follows the latest ones.
constexpr double kGapSmoothing = 0.2;

std::int64_t leftOf(std::int64_t planned, std::int64_t done) {
    return std::max<std::int64_t>(0, planned - done);
}

std::int64_t within(std::int64_t done, std::int64_t planned) {
    return std::clamp<std::int64_t>(done, 0, planned);
}

QString timeLeftText(std::int64_t seconds) {
    if (seconds < 60) return QStringLiteral("falta menos de 1 min");
    std::int64_t minutes = (seconds + 30) / 60;
    if (minutes < 15) {
        return minutes == 1 ? QStringLiteral("falta cerca de 1 min")
                            : QStringLiteral("faltam cerca de %1 min").arg(minutes);
    }
    if (minutes < 60) {
        const std::int64_t fives = (minutes + 2) / 5 * 5;
        if (fives < 60) return QStringLiteral("faltam cerca de %1 min").arg(fives);
        minutes = 60;
    }
    const std::int64_t tens = (minutes + 5) / 10 * 10;
    const std::int64_t hours = tens / 60;
    const std::int64_t rest = tens % 60;
    if (hours >= 10) return QStringLiteral("faltam cerca de %1 h").arg((minutes + 30) / 60);
    if (rest == 0) {
        return hours == 1 ? QStringLiteral("falta cerca de 1 h")
                          : QStringLiteral("faltam cerca de %1 h").arg(hours);
    }
    return QStringLiteral("faltam cerca de %1 h %2 min").arg(hours).arg(rest);
}

}  // namespace

MsClock steadyMsClock() {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

void RunProgress::Rate::learn(double moreAmount, double moreMs) {
    const double keep = std::exp(-moreMs / kDecayMs);
    amount = amount * keep + moreAmount;
    ms = ms * keep + moreMs;
}

RunProgress::RunProgress(const RunWork& plan, MsClock clock)
    : plan_(plan), clock_(std::move(clock)), startMs_(clock_()), lastEventMs_(startMs_) {}

double RunProgress::rowMs() const {
    return rows_.learned() ? rows_.ms / rows_.amount : kPriorRowMs;
}

double RunProgress::byteMs() const {
    return bytes_.learned() ? bytes_.ms / bytes_.amount : kPriorByteMs;
}

void RunProgress::advance(std::int64_t rows, std::int64_t photoBytes) {
    rows = std::max<std::int64_t>(0, rows);
    photoBytes = std::max<std::int64_t>(0, photoBytes);
    if (rows == 0 && photoBytes == 0) return;
    const std::int64_t now = clock_();
    const double gap = static_cast<double>(now - lastEventMs_);
    // Only the time since the last report of work is that work's: after the start or a pause
    // it also holds what opened the phase (a table read, a page fetched).
    if (lastEventWasWork_ && gap >= 0) {
        const double rowPart = static_cast<double>(rows) * rowMs();
        const double bytePart = static_cast<double>(photoBytes) * byteMs();
        if (gap <= std::max(kStallMs, kStallFactor * (rowPart + bytePart))) {
            if (photoBytes == 0) {
                rows_.learn(static_cast<double>(rows), gap);
            } else {
                // A row with its photo: the photo takes the time the rows are not known to
                // take. Rows learn only from reports of rows alone.
                const double photoShare = bytePart / (rowPart + bytePart);
                bytes_.learn(static_cast<double>(photoBytes), gap * photoShare);
            }
            reportGapMs_ =
                reportGapMs_ == 0 ? gap : reportGapMs_ + kGapSmoothing * (gap - reportGapMs_);
        }
    }
    done_.rows += rows;
    done_.photoBytes += photoBytes;
    lastEventMs_ = now;
    lastEventWasWork_ = true;
}

void RunProgress::paused() {
    ++done_.pauses;
    lastEventMs_ = clock_();
    lastEventWasWork_ = false;
}

void RunProgress::finish() {
    finished_ = true;
    floorPercent_ = 100;
}

double RunProgress::leftAtLastReportMs() const {
    return static_cast<double>(leftOf(plan_.rows, done_.rows)) * rowMs() +
           static_cast<double>(leftOf(plan_.photoBytes, done_.photoBytes)) * byteMs() +
           static_cast<double>(leftOf(plan_.pauses, done_.pauses) * kPauseMs);
}

int RunProgress::shareOfPlan() const {
    const double total = static_cast<double>(plan_.rows) * rowMs() +
                         static_cast<double>(plan_.photoBytes) * byteMs() +
                         static_cast<double>(plan_.pauses * kPauseMs);
    if (total <= 0) return 0;
    const double doneMs =
        static_cast<double>(within(done_.rows, plan_.rows)) * rowMs() +
        static_cast<double>(within(done_.photoBytes, plan_.photoBytes)) * byteMs() +
        static_cast<double>(within(done_.pauses, plan_.pauses) * kPauseMs);
    return static_cast<int>(std::floor(100.0 * doneMs / total));
}

RunProgressReading RunProgress::read() {
    if (finished_) return {100, 0};
    const std::int64_t now = clock_();
    const double elapsed = static_cast<double>(std::max<std::int64_t>(0, now - startMs_));
    // Between two reports the time left runs down with the clock, but only for about as long
    // as a report takes to come: a run that waits on something else does not reach zero.
    const double since = static_cast<double>(std::max<std::int64_t>(0, now - lastEventMs_));
    const double runDown = std::min(since, std::max(reportGapMs_, static_cast<double>(kPauseMs)));
    const double leftMs = std::max(0.0, leftAtLastReportMs() - runDown);

    RunProgressReading reading;
    int percent;
    if (elapsed >= kQuietStartMs && (rows_.learned() || bytes_.learned())) {
        reading.secondsLeft = static_cast<std::int64_t>(std::ceil(leftMs / 1000.0));
        // Share and time left tell one story: the time spent of the time spent and left.
        percent = static_cast<int>(std::floor(100.0 * elapsed / (elapsed + leftMs)));
    } else {
        percent = shareOfPlan();
    }
    floorPercent_ = std::max(floorPercent_, std::min(percent, 99));
    reading.percent = floorPercent_;
    return reading;
}

QString RunProgress::line() {
    return progressLine(read());
}

QString progressLine(const RunProgressReading& reading) {
    QString line = QStringLiteral("Progresso total: %1%").arg(reading.percent);
    if (reading.secondsLeft && reading.percent < 100) {
        line += QStringLiteral(" — ") + timeLeftText(*reading.secondsLeft);
    }
    return line;
}

bool RefreshThrottle::due() {
    const std::int64_t now = clock_();
    if (lastMs_ && now - *lastMs_ < intervalMs_) return false;
    lastMs_ = now;
    return true;
}

}  // namespace patrimonio
