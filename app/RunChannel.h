#pragma once
// The window as a run sees it from the run's own thread. What the run reports is kept here and
// taken by the window once per frame (latest status texts, counter, gauge and photo; every log
// line in order); what the run asks (a modal message, the log file saved, the log's text) is
// done on the window's thread while the run waits for the answer. The window's thread never
// waits for the run, so it paints and answers throughout.

#include <QImage>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "core/GaugeModel.h"
#include "core/RunHost.h"

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

    // RunQuestions, on the run's thread.
    void showMessage(const QString& text) override;
    QString qualityText() const override { return quality_; }
    QString skipListText() const override { return skipList_; }
    bool stopRequested() const override;
    void saveLog() override;

    // True while the run waits for its photo workers.
    bool waitingForPhotos() const { return waitingForPhotos_.load(); }

    // On the window's thread: puts on screen what was reported since the last call.
    void deliver();

    // Runs `question` on the window's thread, after what was reported before it, and waits for
    // it; an error it raises is raised on the calling thread.
    void ask(const std::function<void()>& question) const;

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
    // In order: the log view's edits.
    std::vector<std::function<void(TFrmImportador&)>> logEdits_;
};

}  // namespace patrimonio
