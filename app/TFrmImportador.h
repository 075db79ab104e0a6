#pragma once
// The program's one window: the database fields, the mode box, the run button, the status
// widgets and the error log. It owns the connections and record sets for the program's whole
// life, and the runs reach it only through RunHost.

#include <QElapsedTimer>
#include <QWidget>
#include <memory>

#include "app/WindowSeams.h"
#include "core/RunCounters.h"
#include "core/RunHost.h"
#include "db/DataModule.h"

class QLineEdit;

namespace Ui {
class TFrmImportador;
}

namespace patrimonio {

class Connection;

class TFrmImportador : public QWidget, public RunHost {
    Q_OBJECT
public:
    explicit TFrmImportador(QWidget* parent = nullptr);
    ~TFrmImportador() override;

    static inline const QString kCaption = QStringLiteral("Importador patrimônio - By Quorvelin");
    static inline const QString kServerPrefix = QStringLiteral("127.0.0.1/3052:");
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
    void BitBtn1Click();
    void BtnLOGClick();

    DataModule& data() { return *data_; }
    RunCounters& counters() { return counters_; }
    WindowSeams& seams() { return seams_; }
    const Ui::TFrmImportador& ui() const { return *ui_; }
    bool runUnderWay() const { return running_; }
    // True while a run waits for its photo workers and the window handles its events.
    bool waitingForPhotos() const { return waitingForPhotos_; }

    // The photo box refreshes at most this often.
    static constexpr int kPhotoRefreshMs = 250;

    // RunHost.
    void setStatus(const QString& text) override;
    void setWork(const QString& text) override;
    void setGaugeMinimum(int value) override;
    void setGaugeMaximum(int value) override;
    void setGaugeProgress(int value) override;
    int gaugeMaximum() const override;
    int gaugeProgress() const override;
    void pumpMessages() override;
    void pause(int milliseconds) override;
    void waitResponsive(const std::function<bool(int)>& finished) override;
    void showPhoto(const PhotoView& photo) override;
    void showMessage(const QString& text) override;
    QString qualityText() const override;
    QString skipListText() const override;
    bool stopRequested() const override { return stopRequested_; }
    QString logText() const override;
    void setLogText(const QString& text) override;
    void appendLogLine(const QString& line) override;
    void saveLog() override;

    // Paints what the status widgets hold now, handling no input. Pumping does real work at
    // most once per frame, so this is what puts a run's last values on screen before a wait
    // and at the end of a run.
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
    void runInMode(bool photoOnly);
    void runPhotoPass();
    void runImport();
    void tryConnect(QLineEdit& edit, Connection& connection, const QString& prefix,
                    const QColor& successColour, const QString& message);
    // Before a run touches anything: every connection the mode uses belongs to the database
    // its field names now.
    void bindConnections(bool photoOnly);
    void pickFileFor(QLineEdit& edit);

    std::unique_ptr<Ui::TFrmImportador> ui_;
    std::unique_ptr<DataModule> data_;
    RunCounters counters_;
    WindowSeams seams_;
    bool running_ = false;
    bool waitingForPhotos_ = false;
    QElapsedTimer photoShown_;     // since the photo box was last refreshed
    QElapsedTimer sincePump_;      // since the last pump that did real work
    bool workFitPending_ = false;  // LblWork has a new text and not yet its width
    bool stopRequested_ = false;   // the operator answered "Sim" during the run under way
    bool closeAfterRun_ = false;
};

}  // namespace patrimonio
