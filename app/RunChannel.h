#pragma once
// The window as a run sees it from the run's own thread. What the run reports is kept here and
// taken by the window once per frame (latest status texts, counter, gauge and photo; every log
// line in order); what the run asks (a modal message, the log file saved, the log's text) is
// taken at the next frame too and done on the window's thread while the run waits for the
// answer; and the run's end waits here for the window. The window's thread never waits for the
// run, so it paints and answers throughout. Everything crosses between the two threads under
// the channel's one mutex, nothing through the toolkit's event queue.

#include <QImage>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "core/GaugeModel.h"
#include "core/RunHost.h"
#include "runs/RunSession.h"

namespace patrimonio {

class TFrmImportador;

class RunChannel : public RunHost {
public:
    // Made on the window's thread when a run starts; the inputs are what the boxes held then.
    RunChannel(TFrmImportador& window, QString quality, QString skipList);

    // RunReport, on the run's thread.
    void setStatus(const QString& text) override;
    void setWork(const QString& text) override;
    void setGaugeMinimum(int value) override;
    void setGaugeMaximum(int value) override;
    void setGaugeProgress(int value) override;
    int gaugeMaximum() const override;
    int gaugeProgress() const override;
    // Nothing to do: the window takes what was reported at its own pace.
    void pumpMessages() override {}
    void pause(int milliseconds) override;
    void waitResponsive(const std::function<bool(int)>& finished) override;
    void showPhoto(const PhotoView& photo) override;
    QString logText() const override;
    void setLogText(const QString& text) override;
    void appendLogLine(const QString& line) override;
    void planned(const RunWork& work) override;
    void rowsDone(std::int64_t rows, std::int64_t photoBytes) override;

    // RunQuestions, on the run's thread.
    void showMessage(const QString& text) override;
    void showError(std::exception_ptr error) override;
    bool askYesNo(const QString& question) override;
    QString qualityText() const override { return quality_; }
    QString skipListText() const override { return skipList_; }
    bool stopRequested() const override;
    void saveLog() override;

    // True while the run waits for its photo workers.
    bool waitingForPhotos() const { return waitingForPhotos_.load(); }

    // On the window's thread: puts on screen what was reported since the last call, then does
    // what the run is waiting for, if anything.
    void deliver();

    // Runs `question` on the window's thread, after what was reported before it, and waits for
    // it; an error it raises is raised on the calling thread. On the window's thread itself it
    // simply runs it.
    void ask(const std::function<void()>& question) const;

    // The run's thread says it has ended, with what it ended with: a run that ran to its end
    // shows 100 %.
    void finish(const RunOutcome& outcome, std::exception_ptr error);
    // On the window's thread: whether the run has ended, and then with what.
    bool ended(RunOutcome* outcome, std::exception_ptr* error) const;

    // The photo box takes a new picture at most this often.
    static constexpr int kPhotoRefreshMs = 250;

private:
    using Clock = std::chrono::steady_clock;

    TFrmImportador& window_;
    const QString quality_;
    const QString skipList_;
    std::atomic<bool> waitingForPhotos_{false};

    mutable std::mutex mutex_;
    // Latest values; a new one replaces what the window has not taken yet.
    std::optional<QString> status_;
    std::optional<QString> work_;
    GaugeModel gauge_;
    bool gaugeChanged_ = false;
    std::optional<QImage> photo_;  // a null image empties the box
    std::optional<Clock::time_point> photoTaken_;
    // The whole run's progress, fed and read on the run's thread; its line reaches the window
    // at most once a second.
    void refreshProgress(bool now);
    std::optional<RunProgress> progress_;
    RefreshThrottle progressRefresh_;
    std::optional<QString> progressLine_;  // guarded by mutex_

    // In order: the log view's edits.
    std::vector<std::function<void(TFrmImportador&)>> logEdits_;

    // What the run waits for the window to do, and its answer.
    mutable std::condition_variable answered_;
    mutable const std::function<void()>* question_ = nullptr;
    mutable bool questionTaken_ = false;
    mutable bool questionDone_ = false;
    mutable std::exception_ptr questionError_;

    // The run's end.
    bool ended_ = false;
    RunOutcome outcome_;
    std::exception_ptr error_;
};

}  // namespace patrimonio
