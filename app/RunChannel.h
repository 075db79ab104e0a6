#pragma once
// The window as a run sees it from the run's own thread. What the run reports reaches the
// window by a queued signal: a status text, a log line, a photo or the progress line at once
// (the window shows the text a step set before a long statement), the counter and the gauge
// with them or at most once per frame. What the run asks (a modal message, the log file saved,
// the log's text, a test's pause) is a blocking queued call, done on the window's thread after
// what was reported before it while the run waits. The window's thread never waits for the run
// (but when the program is torn down under it, answering it meanwhile), so it paints and
// answers throughout.

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

#include "core/GaugeModel.h"
#include "core/RunHost.h"
#include "runs/RunSession.h"

namespace patrimonio {

class TFrmImportador;

// What the run reported since its last frame: the latest values, and every log edit in order.
struct RunFrame {
    struct LogEdit {
        bool replace = false;  // the whole view's text, or one line added at its end
        QString text;
    };
    std::vector<LogEdit> log;
    std::optional<QString> status;
    std::optional<QString> work;
    std::optional<GaugeModel> gauge;
    std::optional<QImage> photo;  // a null image empties the box
    std::optional<QString> progressLine;

    bool empty() const {
        return log.empty() && !status && !work && !gauge && !photo && !progressLine;
    }
};

class RunChannel : public QObject, public RunHost {
    Q_OBJECT
public:
    // Made on the window's thread when a run starts; the inputs are what the boxes held then.
    RunChannel(TFrmImportador& window, QString quality, QString skipList);

    // RunReport, on the run's thread.
    void setStatus(const QString& text) override;
    void setWork(const QString& text) override;
    void setGaugeMinimum(int value) override;
    void setGaugeMaximum(int value) override;
    void setGaugeProgress(int value) override;
    int gaugeMaximum() const override { return gauge_.maximum(); }
    int gaugeProgress() const override { return gauge_.progress(); }
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

    // Sends the window what was reported and not sent yet.
    void deliver() const;

    // Runs `question` on the window's thread, after what was reported before it, and waits for
    // it; an error it raises is raised on the calling thread.
    void ask(const std::function<void()>& question) const;

    // The run's thread says it has ended, with what it ended with: a run that ran to its end
    // shows 100 %. Everything it reported is sent before `ended`.
    void finish(const RunOutcome& outcome, std::exception_ptr error);

    // The counter and the gauge are sent at most this often: once per frame of the screen.
    static constexpr int kFrameMs = 16;
    // The photo box takes a new picture at most this often.
    static constexpr int kPhotoRefreshMs = 250;

signals:
    // Queued to the window when sent from the run's thread, direct from the window's own.
    void reported(const patrimonio::RunFrame& frame) const;
    // Blocking: the run waits until the window has answered.
    void asked(const std::function<void()>& answer) const;
    void ended() const;

private:
    using Clock = std::chrono::steady_clock;

    void deliverIfDue();
    void refreshProgress(bool now);
    // Qt's queue already orders every crossing between the two threads, but inside a library
    // the race detector cannot see; each side touches this counter as it crosses, so that the
    // order is visible to it too.
    void cross() const { crossings_.fetch_add(1, std::memory_order_acq_rel); }

    TFrmImportador& window_;
    const QString quality_;
    const QString skipList_;
    const bool pauseOnWindow_;  // a test's pause, made on the window's thread
    std::atomic<bool> waitingForPhotos_{false};
    mutable std::atomic<unsigned> crossings_{0};

    // The run's thread's own, sent with the next frame.
    GaugeModel gauge_;
    mutable RunFrame pending_;
    mutable Clock::time_point lastFrame_;
    std::optional<Clock::time_point> photoTaken_;
    // The whole run's progress; its line reaches the window at most once a second.
    std::optional<RunProgress> progress_;
    RefreshThrottle progressRefresh_;
};

}  // namespace patrimonio
