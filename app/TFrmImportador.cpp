#include "TFrmImportador.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QSvgRenderer>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QToolTip>
#include <QUrl>
#include <vector>

#include "app/ErrorDialog.h"
#include "app/RtfWriter.h"
#include "app/RunChannel.h"
#include "core/AppPaths.h"
#include "core/Errors.h"
#include "core/Text.h"
#include "core/ThreadPriority.h"
#include "db/ConnectFailure.h"
#include "db/Connection.h"
#include "photos/PhotoFiles.h"
#include "photos/RecompressionPool.h"
#include "runs/ImportRun.h"
#include "runs/PhotoPass.h"
#include "ui_FrmImportador.h"

namespace patrimonio {

namespace {

const QColor kLime(0, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kTeal(0, 128, 128);
const QColor kGreen(0, 128, 0);
const QString kTrebuchet = QStringLiteral("Trebuchet MS");
const QString kTahoma = QStringLiteral("Tahoma");
constexpr int kLogFontPixels = 11;

QFont fontOf(const QString& family, int pixels, bool bold = false) {
    QFont f(family);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QPixmap svgPixmap(const QString& path, QSize size) {
    QPixmap pix(size);
    pix.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    QPainter painter(&pix);
    renderer.render(&painter);
    return pix;
}

// Labels take the width of their text, so that a wider substitute font or a longer row counter
// is never cut off; their place and height stay.
void fitToText(QLabel& label) {
    label.resize(label.sizeHint().width(), label.height());
}

void setTextColour(QWidget& w, QPalette::ColorRole role, const QColor& colour) {
    QPalette p = w.palette();
    p.setColor(QPalette::Active, role, colour);
    p.setColor(QPalette::Inactive, role, colour);
    w.setPalette(p);
}

void setBackground(QLineEdit& edit, const QColor& colour) {
    QPalette p = edit.palette();
    p.setColor(QPalette::Base, colour);
    edit.setPalette(p);
}

void showModalMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

bool askSimNao(QWidget* parent, const QString& question) {
    QMessageBox box(QMessageBox::Question, kApplicationTitle, question, QMessageBox::NoButton,
                    parent);
    const QAbstractButton* sim = box.addButton(QStringLiteral("Sim"), QMessageBox::YesRole);
    QPushButton* nao = box.addButton(QStringLiteral("Não"), QMessageBox::NoRole);
    box.setDefaultButton(nao);
    box.setEscapeButton(nao);
    box.exec();
    return box.clickedButton() == sim;
}

QString chooseFileWithDialog(QWidget* parent) {
    // No filter, and the file need not exist: the connect attempt decides whether it is usable.
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

}  // namespace

// Keeps the run button, the mode box and the operator's inputs disabled for as long as a run
// is under way, so that a click or an edit handled while the run works neither starts a second
// run beside the first, nor changes the mode, the databases, the quality or the codes to skip;
// all come back however the run ends. Only the window touches the run button: this guard, and
// the end of a finished photo-only pass (runEnded). When the operator asked to close the window
// during the run, it closes once the run has ended.
class TFrmImportador::RunGuard {
public:
    explicit RunGuard(TFrmImportador& w) : w_(w) {
        w_.running_ = true;
        w_.stopRequested_ = false;
        w_.closeAfterRun_ = false;
        w_.setRunEnabled(false);
        w_.setInputsEnabled(false);
    }
    ~RunGuard() {
        w_.running_ = false;
        w_.setRunEnabled(true);
        w_.showPicture(QImage());
        w_.setInputsEnabled(true);
        // However the run ended, its last texts are on screen.
        w_.paintStatusNow();
        if (w_.closeAfterRun_) {
            w_.closeAfterRun_ = false;
            // After the run's end has been handled (and an error it raised has been shown).
            QMetaObject::invokeMethod(
                &w_, [w = &w_] { w->close(); }, Qt::QueuedConnection);
        }
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    TFrmImportador& w_;
};

TFrmImportador::TFrmImportador(QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::TFrmImportador>()),
      session_(std::make_unique<RunSession>()) {
    ui_->setupUi(this);
    // Only the close box: the window is resizable but has no minimise or maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setUpControls();

    seams_.message = [this](const QString& text) { showModalMessage(this, text); };
    seams_.ask = [this](const QString& question) { return askSimNao(this, question); };
    seams_.chooseFile = [this] { return chooseFileWithDialog(this); };
    seams_.openFolder = [](const QString& path) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
    seams_.run = [this](const RunRequest& request, RunHost& host, RunOutcome& outcome) {
        runInSession(request, host, outcome);
    };
    seams_.photoWorkers = RecompressionPool::coreCount();

    connectHandlers();
    FormCreate();
}

TFrmImportador::~TFrmImportador() {
    if (!runThread_.joinable()) return;
    // Only when the program is torn down under a run: it stops at its next stop point, and
    // what it still asks of the window is answered meanwhile.
    stopRequested_ = true;
    while (!runDone_) {
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        QThread::msleep(5);
    }
    runThread_.join();
}

void TFrmImportador::setUpControls() {
    Ui::TFrmImportador& u = *ui_;
    // Every control starts in the window's font; with a style sheet in force the toolkit no
    // longer hands a parent's font down, so each gets it explicitly.
    const QFont windowFont = fontOf(kTahoma, 11);
    setFont(windowFont);
    for (QWidget* child : findChildren<QWidget*>()) child->setFont(windowFont);
    setWindowIcon(QIcon(svgPixmap(QStringLiteral(":/images/window-icon.svg"), {32, 32})));

    for (QLabel* l : {u.Label4, u.Label5, u.Label1, u.Label3}) l->setFont(fontOf(kTrebuchet, 11));
    for (QLabel* l : {u.Label6, u.Label2, u.Label7}) l->setFont(fontOf(kTrebuchet, 15));
    u.Ck_Apenas_Tratar_Imagem->setFont(fontOf(kTrebuchet, 16));
    u.BitBtn1->setFont(fontOf(kTrebuchet, 21, true));
    setTextColour(*u.BitBtn1, QPalette::ButtonText, kGreen);
    u.LblStatus->setFont(fontOf(kTrebuchet, 29, true));
    setTextColour(*u.LblStatus, QPalette::WindowText, kTeal);
    u.LblWork->setFont(fontOf(kTrebuchet, 21, true));
    setTextColour(*u.LblWork, QPalette::WindowText, kGreen);
    for (QLabel* l :
         {u.Label4, u.Label5, u.Label1, u.Label3, u.Label6, u.Label2, u.Label7, u.LblWork}) {
        fitToText(*l);
    }
    // The whole run's progress: one line right of "Banco a ser atualizado.", up to the right edge
    // of its picker, where nothing else is; the status label above the gauge needs all its
    // room for three-line texts. The font is the largest that fits the longest line.
    progressLine_ = new QLabel(this);
    progressLine_->setObjectName(QStringLiteral("LblProgresso"));
    const int left = u.Label2->x() + u.Label2->width() + 6;
    const int right = u.SpeedButton2->x() + u.SpeedButton2->width();
    progressLine_->setGeometry(left, u.Label2->y(), right - left, u.Label2->height());
    progressLine_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const QString longest = QStringLiteral("Progresso total: 100% — faltam cerca de 55 min");
    for (int pixels = 13; pixels >= 9; --pixels) {
        progressLine_->setFont(fontOf(kTahoma, pixels, true));
        if (progressLine_->fontMetrics().horizontalAdvance(longest) <= progressLine_->width()) {
            break;
        }
    }
    setTextColour(*progressLine_, QPalette::WindowText, kTeal);
    progressLine_->setAttribute(Qt::WA_TransparentForMouseEvents);

    u.MemoLOG->setFont(fontOf(kTahoma, kLogFontPixels));
    u.MemoLOG->document()->setDefaultFont(u.MemoLOG->font());

    // The size boxes only show the photo rule; the quality box takes digits only.
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (QLineEdit* e : {u.EdtH, u.EdtW, u.Edit1, u.Edit3}) {
        e->setValidator(new QRegularExpressionValidator(digits, e));
    }

    u.BitBtn1->setIcon(QIcon(svgPixmap(QStringLiteral(":/images/painting-tools.svg"), {128, 128})));
    const QIcon magnifier(svgPixmap(QStringLiteral(":/images/magnifier.svg"), {19, 19}));
    u.SpeedButton1->setIcon(magnifier);
    u.SpeedButton2->setIcon(magnifier);
    QIcon check;
    check.addPixmap(svgPixmap(QStringLiteral(":/images/double-check.svg"), {18, 18}),
                    QIcon::Normal);
    check.addPixmap(svgPixmap(QStringLiteral(":/images/double-check-disabled.svg"), {18, 18}),
                    QIcon::Disabled);
    u.BtnLOG->setIcon(check);
    u.BtnLOG->raise();
}

void TFrmImportador::connectHandlers() {
    Ui::TFrmImportador& u = *ui_;
    // Each handler runs under the default error dialog, as if the message loop caught it.
    auto guarded = [this](void (TFrmImportador::*handler)()) {
        return [this, handler] { runHandler([&] { (this->*handler)(); }); };
    };
    connect(u.Edit4, &QLineEdit::textChanged, this, guarded(&TFrmImportador::Edit4Change));
    connect(u.Edit2, &QLineEdit::textChanged, this, guarded(&TFrmImportador::Edit2Change));
    connect(u.SpeedButton1, &QToolButton::clicked, this,
            guarded(&TFrmImportador::SpeedButton1Click));
    connect(u.SpeedButton2, &QToolButton::clicked, this,
            guarded(&TFrmImportador::SpeedButton2Click));
    connect(u.Ck_Apenas_Tratar_Imagem, &QCheckBox::toggled, this,
            guarded(&TFrmImportador::Ck_Apenas_Tratar_ImagemClick));
    connect(u.BitBtn1, &QPushButton::clicked, this, guarded(&TFrmImportador::BitBtn1Click));
    connect(u.BtnLOG, &QPushButton::clicked, this, guarded(&TFrmImportador::BtnLOGClick));
}

void TFrmImportador::FormCreate() {
    RunCounters& c = counters();
    c.Erros = 0;
    c.Total = 0;
    c.Total_Geral = 0;
    c.JaMostrouMensagemTerminou = false;
}

void TFrmImportador::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The log view is docked to the bottom edge; everything else keeps its place.
    ui_->MemoLOG->setGeometry(0, height() - kLogHeight, width(), kLogHeight);
}

void TFrmImportador::closeEvent(QCloseEvent* event) {
    if (!running_) {
        QWidget::closeEvent(event);
        return;
    }
    // A hidden run would go on writing, and a restarted program could run beside it: the
    // window stays until the run has stopped where nothing is half written.
    event->ignore();
    if (stopRequested_ || askingToClose_) return;
    askingToClose_ = true;
    const bool sim = seams_.ask(kStopQuestion);
    askingToClose_ = false;
    if (!sim) return;
    if (!running_) {
        // The run ended while the question was open: nothing is left to stop.
        event->accept();
        return;
    }
    stopRequested_ = true;
    closeAfterRun_ = true;
}

// Connections.

QLineEdit& TFrmImportador::editOf(DatabaseField field) const {
    return field == DatabaseField::Source ? *ui_->Edit4 : *ui_->Edit2;
}

// A connection belongs to the database its field names now (the session moves it); a failed
// attempt leaves it closed (a run then refuses to start) and the field red.
void TFrmImportador::tryConnect(QLineEdit& edit, DatabaseField field, bool photoOnly,
                                const QColor& successColour, const QString& message) {
    if (running_) {
        // The run owns the connections until it ends; the attempt is made then.
        (field == DatabaseField::Source ? sourceEditedDuringRun_ : targetEditedDuringRun_) = true;
        return;
    }
    const RunSession::ConnectAttempt attempt =
        session_->connectField(field, photoOnly, edit.text());
    if (attempt.result == RunSession::Attempt::Blank) return;
    if (attempt.result == RunSession::Attempt::Failed) {
        // Typing a path key by key tries every prefix of it; those that fail raise no box and
        // write nothing in the log or the status: the red field carries the reason, shown
        // beside it as it turns red and on hover after.
        const bool turnsRed = edit.palette().color(QPalette::Base) != kRed;
        setBackground(edit, kRed);
        const QString why =
            explainConnectFailure(*attempt.error,
                                  RunSession::databaseOf(field, photoOnly, edit.text()))
                .text();
        edit.setToolTip(why);
        if (turnsRed && edit.isVisible()) {
            QToolTip::showText(edit.mapToGlobal(QPoint(0, edit.height())), why, &edit);
        }
        return;
    }
    setBackground(edit, successColour);
    edit.setToolTip(QString());
    showMessage(message);
}

void TFrmImportador::showTargetRestored(bool connected) {
    QLineEdit& edit = *ui_->Edit2;
    if (connected) {
        setBackground(edit, ui_->Ck_Apenas_Tratar_Imagem->isChecked()
                                ? kLime
                                : QApplication::palette().color(QPalette::ToolTipBase));
        edit.setToolTip(QString());
    } else {
        setBackground(edit, kRed);
        edit.setToolTip(
            QStringLiteral("O banco a ser atualizado não pôde ser aberto depois da "
                           "restauração: veja o log."));
    }
}

void TFrmImportador::Edit4Change() {
    const QString text = ui_->Edit4->text();
    tryConnect(*ui_->Edit4, DatabaseField::Source, ui_->Ck_Apenas_Tratar_Imagem->isChecked(), kLime,
               QStringLiteral("Conectado a base de dados: ") + fileNameOf(text));
}

void TFrmImportador::Edit2Change() {
    const QString text = ui_->Edit2->text();
    if (ui_->Ck_Apenas_Tratar_Imagem->isChecked()) {
        // Photo-only mode opens the one database by its bare path.
        tryConnect(*ui_->Edit2, DatabaseField::Target, true, kLime, QStringLiteral("Conectado."));
    } else {
        tryConnect(*ui_->Edit2, DatabaseField::Target, false,
                   QApplication::palette().color(QPalette::ToolTipBase),
                   QStringLiteral("Conectado a base de dados: ") + fileNameOf(text));
    }
}

void TFrmImportador::pickFileFor(QLineEdit& edit) {
    const QString path = seams_.chooseFile();
    if (path.isEmpty()) return;
    edit.setText(path);  // fires the change handler when the path differs
}

void TFrmImportador::SpeedButton1Click() {
    pickFileFor(*ui_->Edit4);
}
void TFrmImportador::SpeedButton2Click() {
    pickFileFor(*ui_->Edit2);
}

void TFrmImportador::Ck_Apenas_Tratar_ImagemClick() {
    ui_->SpeedButton1->setEnabled(!ui_->Ck_Apenas_Tratar_Imagem->isChecked());
}

// Runs.

void TFrmImportador::BitBtn1Click() {
    if (running_) return;
    guard_ = std::make_unique<RunGuard>(*this);
    // The mode and the inputs are read once: the whole run keeps them, whatever happens to the
    // boxes meanwhile.
    RunRequest request;
    request.photoOnly = ui_->Ck_Apenas_Tratar_Imagem->isChecked();
    request.sourceText = ui_->Edit4->text();
    request.targetText = ui_->Edit2->text();
    channel_ =
        std::make_unique<RunChannel>(*this, ui_->Edit3->text(), ui_->EdtBensIgnorados->text());
    // A new run's progress starts when it has counted what it will do.
    setProgressLine(QString());
    RunChannel* channel = channel_.get();
    runDone_ = false;
    runOutcome_ = {};
    runError_ = nullptr;
    // Queued behind everything the run reported.
    connect(channel, &RunChannel::ended, &runEnds_, [this] {
        runThread_.join();
        runEnded(runOutcome_, runError_);
    });
    runThread_ = std::thread([this, request, channel] {
        giveWayToTheWindow();
        try {
            seams_.run(request, *channel, runOutcome_);
        } catch (...) {
            runError_ = std::current_exception();
        }
        runDone_ = true;
        channel->finish(runOutcome_, runError_);
    });
}

void TFrmImportador::runInSession(const RunRequest& request, RunHost& host, RunOutcome& outcome) {
    session_->run(request.photoOnly, request.sourceText, request.targetText, host,
                  seams_.photoWorkers, outcome);
}

void TFrmImportador::runEnded(const RunOutcome& outcome, std::exception_ptr error) {
    channel_.reset();

    for (const DatabaseField field : outcome.unreachable) setBackground(editOf(field), kRed);
    if (outcome.passEnd == PhotoPassEnd::Finished) {
        // Once the operator has closed the summary: the run button at once, the log button,
        // and the recompressed photos on the desktop.
        setRunEnabled(true);
        setLogButtonEnabled(true);
        openFolder(afterFolder());
    }
    // The report of what was done is in the log view, also after an error: it can be saved.
    if (outcome.reportLogged) setLogButtonEnabled(true);
    if (!error && outcome.importEnd == ImportEnd::Completed) showMessage(outcome.completion);

    guard_.reset();
    // A run that asked something after its error has shown it already.
    if (error && !outcome.errorShown) showErrorDialog(error);
    if (outcome.targetRestored) showTargetRestored(*outcome.targetRestored);
    // Fields changed while the run held the connections are tried now.
    if (std::exchange(sourceEditedDuringRun_, false)) runHandler([this] { Edit4Change(); });
    if (std::exchange(targetEditedDuringRun_, false)) runHandler([this] { Edit2Change(); });
}

bool TFrmImportador::waitingForPhotos() const {
    return channel_ && channel_->waitingForPhotos();
}

// Error log.

void TFrmImportador::BtnLOGClick() {
    const QString path = logFilePath();
    const QTextEdit& memo = *ui_->MemoLOG;
    const QByteArray document =
        rtfDocument(memo.toPlainText(), memo.font().family(), memo.font().pixelSize());
    // Whole or not at all: a log that cannot be saved leaves the last one saved as it was.
    const FileWrite written = writeWholeFile(path, document);
    if (written.failure == FileWrite::Failure::Create) {
        throw AppError(QStringLiteral("Cannot create file \"%1\". %2")
                           .arg(QDir::toNativeSeparators(path), written.reason));
    }
    if (!written.ok()) throw AppError(QStringLiteral("Failed to Save Stream"));
    // Saved elsewhere than beside the executable, the usual words would send the operator to
    // the wrong folder.
    if (filesFolder().besideExecutable) {
        showMessage(QStringLiteral("LOG criada com sucesso, salvo junto a este executável."));
    } else {
        showMessage(QStringLiteral("LOG criada com sucesso, salvo em %1.")
                        .arg(QDir::toNativeSeparators(path)));
    }
}

// What a run shows.

void TFrmImportador::setStatus(const QString& text) {
    ui_->LblStatus->setText(text);
}
void TFrmImportador::setWork(const QString& text) {
    ui_->LblWork->setText(text);
    fitToText(*ui_->LblWork);
}
void TFrmImportador::setGaugeMinimum(int value) {
    ui_->Gauge1->setMinimum(value);
}
void TFrmImportador::setGaugeMaximum(int value) {
    ui_->Gauge1->setMaximum(value);
}
void TFrmImportador::setGaugeProgress(int value) {
    ui_->Gauge1->setProgress(value);
}
void TFrmImportador::setGaugeModel(const GaugeModel& model) {
    ui_->Gauge1->setModel(model);
}
const GaugeModel& TFrmImportador::gaugeModel() const {
    return ui_->Gauge1->model();
}

void TFrmImportador::paintStatusNow() {
    if (!isVisible()) return;
    for (QWidget* w : {static_cast<QWidget*>(ui_->LblStatus), static_cast<QWidget*>(ui_->LblWork),
                       static_cast<QWidget*>(ui_->Gauge1)}) {
        w->repaint();
    }
}

void TFrmImportador::setProgressLine(const QString& text) {
    progressLine_->setText(text);
}

void TFrmImportador::showPicture(const QImage& picture) {
    QLabel& box = *ui_->ImgAntes;
    if (picture.isNull()) {
        box.clear();
        return;
    }
    box.setPixmap(QPixmap::fromImage(
        picture.scaled(box.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void TFrmImportador::showMessage(const QString& text) {
    // A modal box holds the run: the window behind it shows the values of the moment.
    paintStatusNow();
    seams_.message(text);
}
bool TFrmImportador::askYesNo(const QString& question) {
    paintStatusNow();
    return seams_.ask(question);
}
QString TFrmImportador::logText() const {
    return ui_->MemoLOG->toPlainText();
}
void TFrmImportador::setLogText(const QString& text) {
    ui_->MemoLOG->setPlainText(text);
}

void TFrmImportador::appendLogLine(const QString& line) {
    QTextCursor cursor(ui_->MemoLOG->document());
    cursor.movePosition(QTextCursor::End);
    // A line of its own, unless the last line is an empty one (a finished report ends so).
    if (!ui_->MemoLOG->document()->lastBlock().text().isEmpty()) cursor.insertBlock();
    cursor.insertText(line);  // plain text: a server message may hold '<'
}

// Window chores.

void TFrmImportador::setRunEnabled(bool enabled) {
    ui_->BitBtn1->setEnabled(enabled);
    ui_->Ck_Apenas_Tratar_Imagem->setEnabled(enabled);
}

void TFrmImportador::setInputsEnabled(bool enabled) {
    Ui::TFrmImportador& u = *ui_;
    for (QWidget* w : std::initializer_list<QWidget*>{u.Edit4, u.Edit2, u.SpeedButton2, u.Edit3,
                                                      u.EdtBensIgnorados}) {
        w->setEnabled(enabled);
    }
    u.SpeedButton1->setEnabled(enabled && !u.Ck_Apenas_Tratar_Imagem->isChecked());
}

void TFrmImportador::setLogButtonEnabled(bool enabled) {
    ui_->BtnLOG->setEnabled(enabled);
}
void TFrmImportador::openFolder(const QString& path) {
    seams_.openFolder(path);
}

}  // namespace patrimonio
