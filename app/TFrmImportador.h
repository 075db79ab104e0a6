#pragma once
// The program's one window: the database fields, the mode box, the run button, the status
// widgets and the error log. It shows a RunSession (the connections, the counters, the runs)
// and forwards the operator's input to it. A run executes on a thread of its own and reaches
// the window only through a RunChannel: the window's thread paints and answers throughout.

#include <QImage>
#include <QWidget>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "app/WindowSeams.h"
#include "core/GaugeModel.h"
#include "core/RunCounters.h"
#include "runs/RunSession.h"

class QLabel;
class QLineEdit;

namespace Ui {
class TFrmImportador;
}

namespace patrimonio {

class RunChannel;

class TFrmImportador : public QWidget {
    Q_OBJECT
public:
    explicit TFrmImportador(QWidget* parent = nullptr);
    ~TFrmImportador() override;

    static inline const QString kCaption = QStringLiteral("Importador patrimônio - By Quorvelin");
    static inline const QString kServerPrefix = RunSession::kServerPrefix;
    static constexpr int kClientWidth = 935;
    static constexpr int kClientHeight = 534;
    static constexpr int kLogHeight = 89;
    static inline const QString kStopQuestion =
        QStringLiteral("Interromper a execução em andamento?");

    // Event handlers, named as the operators' documentation names them.
    void FormCreate();
    void Edit4Change();
    void Edit2Change();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void Ck_Apenas_Tratar_ImagemClick();
    // Starts a run on its own thread and returns; the window is given back when it ends.
    void BitBtn1Click();
    void BtnLOGClick();

    RunSession& session() { return *session_; }
    DataModule& data() { return session_->data(); }
    RunCounters& counters() { return session_->counters(); }
    WindowSeams& seams() { return seams_; }
    const Ui::TFrmImportador& ui() const { return *ui_; }
    bool runUnderWay() const { return running_; }
    // True while a run waits for its photo workers.
    bool waitingForPhotos() const;
    // The operator answered "Sim" to the close question during the run under way.
    bool stopRequested() const { return stopRequested_.load(); }

    // What a run shows, put on screen by its channel.
    void setStatus(const QString& text);  // LblStatus
    void setWork(const QString& text);    // LblWork
    void setGaugeMinimum(int value);      // Gauge1
    void setGaugeMaximum(int value);
    void setGaugeProgress(int value);
    void setGaugeModel(const GaugeModel& model);
    const GaugeModel& gaugeModel() const;
    // The whole run's share done and time left, under the status text.
    void setProgressLine(const QString& text);
    // The framed box "Imagem antes de tratar"; a null image empties it.
    void showPicture(const QImage& picture);
    void showMessage(const QString& text);
    // A question a run asks, with "Sim" and "Não" ("Não" the default); true for "Sim".
    bool askYesNo(const QString& question);
    QString logText() const;
    void setLogText(const QString& text);
    // Adds a line of its own at the end of the log view (import report, refused rows).
    void appendLogLine(const QString& line);

    // Paints what the status widgets hold now, before a modal box and at the end of a run.
    void paintStatusNow();

    // Window chores, the window's alone: no run does them.
    void setRunEnabled(bool enabled);  // BitBtn1 and the mode box
    // The database fields with their pickers, the quality and the codes to skip; SpeedButton1
    // comes back only in import mode.
    void setInputsEnabled(bool enabled);
    void setLogButtonEnabled(bool enabled);  // BtnLOG
    void openFolder(const QString& path);    // the desktop's "open" on a folder

protected:
    void resizeEvent(QResizeEvent* event) override;
    // During a run, asks whether to stop it; "Sim" stops the run at its next stop point and
    // closes the window once the run has ended. Without a run the window closes at once.
    void closeEvent(QCloseEvent* event) override;

private:
    class RunGuard;

    void setUpControls();
    void connectHandlers();
    // The production run: the session binds the fields' databases and runs the mode.
    void runInSession(const RunRequest& request, RunHost& host, RunOutcome& outcome);
    // On the window's thread once the run's thread has returned.
    void runEnded(const RunOutcome& outcome, std::exception_ptr error);
    // After the way back was taken: the target field shows whether Con_Velho is on the
    // restored database.
    void showTargetRestored(bool connected);
    void tryConnect(QLineEdit& edit, DatabaseField field, bool photoOnly,
                    const QColor& successColour, const QString& message);
    void pickFileFor(QLineEdit& edit);
    QLineEdit& editOf(DatabaseField field) const;

    std::unique_ptr<Ui::TFrmImportador> ui_;
    QLabel* progressLine_ = nullptr;  // LblProgresso, right of "Banco a ser atualizado."
    std::unique_ptr<RunSession> session_;
    WindowSeams seams_;
    bool running_ = false;
    std::unique_ptr<RunGuard> guard_;      // during a run
    std::unique_ptr<RunChannel> channel_;  // during a run
    std::thread runThread_;                // during a run
    // Set by the run's thread once it asks nothing more, with what it ended with.
    std::atomic<bool> runDone_{false};
    RunOutcome runOutcome_;
    std::exception_ptr runError_;
    // Receives the run's end apart from the window: a teardown under a run answers what the
    // run asks of the window without handling its end.
    QObject runEnds_;
    // A database field changed during a run: its connect attempt waits for the run's end, so
    // that it never moves a connection the run is using.
    bool sourceEditedDuringRun_ = false;
    bool targetEditedDuringRun_ = false;
    std::atomic<bool> stopRequested_{false};  // "Sim" during the run under way
    bool closeAfterRun_ = false;
    bool askingToClose_ = false;  // the close question is open
};

}  // namespace patrimonio
