#pragma once
// A RunHost for tests: records every status, counter, gauge and message event in order,
// never waits, and answers modal boxes at once. Pauses are recorded, not slept.

#include <QString>
#include <QStringList>
#include <functional>

#include "core/GaugeModel.h"
#include "core/RunHost.h"

namespace patrimonio::test {

class RecordingHost : public RunHost {
public:
    // Every event as one line: "status:<text>", "work:<text>", "gauge-min:<n>",
    // "gauge-max:<n>", "gauge:<n>", "pump", "pause:<ms>", "message:<text>", "log:<line>",
    // "save-log".
    QStringList events;

    // Inputs the steps read during a run.
    QString quality = QStringLiteral("60");
    QString skipList;
    QString log;

    GaugeModel gauge;
    int pauses = 0;
    int saves = 0;

    // Pictures handed to the photo box, in order (not events: the box is no status widget).
    // The picture of each is kept as its size; an empty one is "0x0".
    QStringList photosShown;
    // How many times the run waited for its photo workers.
    int waits = 0;

    // Called on every pump, so a test can act "in the middle" of a run (edit a box, click).
    std::function<void()> onPump;
    // Answers a "Sim"/"Não" question; unset answers "Não", the default button.
    std::function<bool(const QString& question)> answer;
    // Called by saveLog; may throw to simulate a file that cannot be written.
    std::function<void()> onSaveLog;

    void setStatus(const QString& text) override;
    void setWork(const QString& text) override;
    void setGaugeMinimum(int value) override;
    void setGaugeMaximum(int value) override;
    void setGaugeProgress(int value) override;
    int gaugeMaximum() const override { return gauge.maximum(); }
    int gaugeProgress() const override { return gauge.progress(); }
    void pumpMessages() override;
    void pause(int milliseconds) override;
    void waitResponsive(const std::function<bool(int)>& finished) override;
    void showPhoto(const PhotoView& photo) override;
    void showMessage(const QString& text) override;
    // Recorded as "error:<message>"; a silent abort is recorded as "error:".
    void showError(std::exception_ptr error) override;
    // Recorded as "ask:<question>"; answered by `answer` ("Não" when unset).
    bool askYesNo(const QString& question) override;
    QString qualityText() const override { return quality; }
    QString skipListText() const override { return skipList; }
    QString logText() const override { return log; }
    void setLogText(const QString& text) override { log = text; }
    void appendLogLine(const QString& line) override;
    void saveLog() override;

    // Events that start with the prefix, in order, without the prefix.
    QStringList eventsWith(const QString& prefix) const;
    QStringList messages() const { return eventsWith(QStringLiteral("message:")); }
    QStringList statuses() const { return eventsWith(QStringLiteral("status:")); }
};

// A recording host whose operator asks to stop once the run shows the status `stopAt`.
class StopAtStatusHost : public RecordingHost {
public:
    QString stopAt;
    bool stopRequested() const override {
        const QStringList s = statuses();
        return !stopAt.isEmpty() && !s.isEmpty() && s.last() == stopAt;
    }
};

}  // namespace patrimonio::test
