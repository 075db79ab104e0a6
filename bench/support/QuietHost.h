#pragma once
// The window without the window, for benchmarks: no pauses, no painting, no modal boxes, nothing
// kept but the gauge's range and position (the row counter reads the maximum back).

#include "core/RunHost.h"

namespace patrimonio::bench {

class QuietHost : public RunHost {
public:
    // Log lines the run adds (refused rows, the import report) are worth seeing while a bench
    // runs; a host that stands for "no window at all" in a comparison drops them.
    enum class LogLines { Echoed, Dropped };

    explicit QuietHost(LogLines logLines = LogLines::Echoed) : logLines_(logLines) {}

    void setStatus(const QString&) override {}
    void setWork(const QString&) override {}
    void setGaugeMinimum(int) override {}
    void setGaugeMaximum(int value) override { max_ = value; }
    void setGaugeProgress(int value) override { progress_ = value; }
    int gaugeMaximum() const override { return max_; }
    int gaugeProgress() const override { return progress_; }
    void pause(int) override {}
    // Simply waits: there are no window events to handle meanwhile.
    void waitResponsive(const std::function<bool(int)>& finished) override;
    void showPhoto(const PhotoView&) override {}
    void showMessage(const QString&) override {}
    void showError(std::exception_ptr) override {}
    bool askYesNo(const QString&) override { return false; }
    QString qualityText() const override { return QStringLiteral("60"); }
    QString skipListText() const override { return {}; }
    QString logText() const override { return {}; }
    void setLogText(const QString&) override {}
    void appendLogLine(const QString& line) override;
    void saveLog() override {}

private:
    LogLines logLines_;
    int max_ = 0;
    int progress_ = 0;
};

}  // namespace patrimonio::bench
