#pragma once
// What a run (the purge, the copy steps, the photo-only pass) has to do with the window, in two
// halves: what it reports (RunReport) and what it asks (RunQuestions). A step that only reports
// takes a RunReport, so its signature says it neither reads the operator's boxes nor opens a
// dialog. Runs do no window chores: the run button, "Salvar Log" and the desktop's folder view
// belong to the window alone. The window implements both halves; tests implement them with a
// recorder and no waiting.

#include <QString>
#include <cstdint>
#include <exception>
#include <functional>

#include "core/RunProgress.h"

namespace patrimonio {

// A picture lent to the window for a moment: 24-bit RGB rows top to bottom, no padding. A
// width or height of 0 is no picture.
struct PhotoView {
    int width = 0;
    int height = 0;
    const std::uint8_t* rgb = nullptr;
};

class RunReport {
public:
    virtual ~RunReport() = default;

    // Status widgets.
    virtual void setStatus(const QString& text) = 0;  // LblStatus
    virtual void setWork(const QString& text) = 0;    // LblWork
    virtual void setGaugeMinimum(int value) = 0;      // Gauge1
    virtual void setGaugeMaximum(int value) = 0;
    virtual void setGaugeProgress(int value) = 0;
    virtual int gaugeMaximum() const = 0;
    virtual int gaugeProgress() const = 0;

    // A keep-alive point of the status convention: after a phase's opening text, after each
    // row. The window needs nothing here (what the run reports reaches it on its own); a test
    // host acts at these points in the middle of a run.
    virtual void pumpMessages() {}
    // Waits on the spot; the window handles nothing meanwhile. Production waits for real.
    virtual void pause(int milliseconds) = 0;

    // Waits until `finished` returns true. `finished(ms)` waits at most ms milliseconds for the
    // awaited work (negative: as long as it takes) and says whether it is done. The window
    // handles its events between short waits, so it stays alive while photos are recompressed
    // on other threads; a test host simply waits.
    virtual void waitResponsive(const std::function<bool(int milliseconds)>& finished) = 0;

    // The framed box "Imagem antes de tratar": the photo being handled, fitted to the box, or
    // an empty box for no picture. The picture is only lent: the window copies what it shows,
    // and may skip pictures that come faster than it refreshes the box.
    virtual void showPhoto(const PhotoView& photo) = 0;

    // The log view MemoLOG.
    virtual QString logText() const = 0;
    virtual void setLogText(const QString& text) = 0;
    // Adds a line of its own at the end of the log view (import report, refused rows).
    virtual void appendLogLine(const QString& line) = 0;

    // The whole run's progress: what the run will do, counted at its start, then the rows
    // handled as it goes, with the bytes of the stored photos among them. A host that shows
    // no progress ignores them.
    virtual void planned(const RunWork& work) { (void)work; }
    virtual void rowsDone(std::int64_t rows, std::int64_t photoBytes = 0) {
        (void)rows;
        (void)photoBytes;
    }
};

class RunQuestions {
public:
    virtual ~RunQuestions() = default;

    // Modal message with an OK button; returns when the operator closes it.
    virtual void showMessage(const QString& text) = 0;
    // The error that ended a run, shown as the window shows any error (a silent abort shows
    // nothing); returns when the operator closes it. A run shows it itself only when it has
    // something to ask after it.
    virtual void showError(std::exception_ptr error) = 0;
    // Modal question with the buttons "Sim" and "Não", "Não" the default; true for "Sim".
    virtual bool askYesNo(const QString& question) = 0;

    // Operator inputs. A run reads each once, at its start, and keeps what it read.
    virtual QString qualityText() const = 0;   // Edit3
    virtual QString skipListText() const = 0;  // EdtBensIgnorados

    // The operator asked the run under way to stop (by closing the window). Runs look at it
    // only where nothing is half written: after a whole write-back, between purge entries,
    // between batches of the photo-only pass.
    virtual bool stopRequested() const { return false; }

    // Saves the log file and confirms (BtnLOGClick); raises when the file cannot be written.
    virtual void saveLog() = 0;
};

// Both halves: what a whole run is given.
class RunHost : public RunReport, public RunQuestions {};

}  // namespace patrimonio
