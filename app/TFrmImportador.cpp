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
#include <QUrl>
#include <vector>

#include "app/ErrorDialog.h"
#include "app/RtfWriter.h"
#include "core/AppPaths.h"
#include "core/Errors.h"
#include "core/Text.h"
#include "db/Connection.h"
#include "photos/PhotoFiles.h"
#include "photos/RecompressionPool.h"
#include "runs/ImportRun.h"
#include "runs/PhotoPass.h"
#include "ui_FrmImportador.h"

namespace patrimonio {

namespace {

// The screen shows a new frame about every 16 ms: pumping more often than that only repaints
// what nobody can see, at a cost a step would pay for every row.
constexpr qint64 kFrameMs = 16;

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
// is under way, so that a click or an edit handled while the run pumps messages neither starts
// a second run inside the first, nor changes the mode, the databases, the quality or the codes
// to skip; all come back however the run ends. Only the window touches the run button: this
// guard, and the end of a finished photo-only pass (runPhotoPass). When the operator asked to
// close the window during the run, it closes once the run has ended.
class TFrmImportador::RunGuard {
public:
    explicit RunGuard(TFrmImportador& w) : w_(w) {
        w_.running_ = true;
        w_.stopRequested_ = false;
        w_.closeAfterRun_ = false;
        w_.setRunEnabled(false);
        w_.setInputsEnabled(false);
        // The run's first pump does real work, whenever the last one was.
        w_.sincePump_.invalidate();
    }
    ~RunGuard() {
        w_.running_ = false;
        w_.setRunEnabled(true);
        w_.showPhoto({});
        w_.setInputsEnabled(true);
        // However the run ended, its last texts are on screen.
        w_.paintStatusNow();
        if (w_.closeAfterRun_) {
            w_.closeAfterRun_ = false;
            // After the handler has returned (and an error it raised has been shown).
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
      data_(std::make_unique<DataModule>()) {
    ui_->setupUi(this);
    // Only the close box: the window is resizable but has no minimise or maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setUpControls();

    seams_.message = [this](const QString& text) { showModalMessage(this, text); };
    seams_.ask = [this](const QString& question) { return askSimNao(this, question); };
    seams_.chooseFile = [this] { return chooseFileWithDialog(this); };
    seams_.pause = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
    seams_.openFolder = [](const QString& path) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
    seams_.run = [this](bool photoOnly) { runInMode(photoOnly); };
    seams_.photoWorkers = RecompressionPool::coreCount();

    connectHandlers();
    FormCreate();
}

TFrmImportador::~TFrmImportador() = default;

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
    counters_.Erros = 0;
    counters_.Total = 0;
    counters_.Total_Geral = 0;
    counters_.JaMostrouMensagemTerminou = false;
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
    if (stopRequested_) return;
    if (!seams_.ask(kStopQuestion)) return;
    stopRequested_ = true;
    closeAfterRun_ = true;
}

// Connections.

// A connection belongs to the database its field names now: a change to another file closes
// it before the new file is tried, so that the message never names a file the connection is
// not on, and a failed attempt leaves it closed (a run then refuses to start) and the field red.
void TFrmImportador::tryConnect(QLineEdit& edit, Connection& connection, const QString& prefix,
                                const QColor& successColour, const QString& message) {
    const QString text = edit.text();
    if (trimmed(text).isEmpty()) return;
    const QString database = prefix + text;
    if (connection.databaseString() != database) connection.Close();
    connection.Params = Connection::editParams(database);
    connection.LoginPrompt = false;
    try {
        connection.Open();
    } catch (const std::exception&) {
        // Typing a path key by key tries every prefix of it; those that fail say nothing.
        connection.Close();
        setBackground(edit, kRed);
        return;
    }
    setBackground(edit, successColour);
    showMessage(message);
}

void TFrmImportador::bindConnections(bool photoOnly) {
    struct Binding {
        QLineEdit* edit;
        Connection* connection;
        QString prefix;
        QString caption;
    };
    std::vector<Binding> bindings;
    if (photoOnly) {
        // The pass works on the file of the target field, by its bare path, and on nothing
        // else: what import mode left open lets go of it first.
        data_->Con_Velho.Close();
        bindings.push_back(
            {ui_->Edit2, &data_->Con_Novo, QString(), QStringLiteral("banco a ser atualizado")});
    } else {
        // Con_Novo first: it may hold the target's file by its bare path since a photo pass.
        bindings.push_back({ui_->Edit4, &data_->Con_Novo, kServerPrefix,
                            QStringLiteral("banco com as informações")});
        bindings.push_back({ui_->Edit2, &data_->Con_Velho, kServerPrefix,
                            QStringLiteral("banco a ser atualizado")});
    }
    QStringList failures;
    for (const Binding& b : bindings) {
        const QString text = b.edit->text();
        // A blank field names no database: the run says so and starts nothing.
        if (trimmed(text).isEmpty()) {
            b.connection->Close();
            continue;
        }
        const QString database = b.prefix + text;
        if (b.connection->databaseString() != database) {
            b.connection->Close();
            b.connection->Params = Connection::editParams(database);
            b.connection->LoginPrompt = false;
        }
        try {
            // Kept when already open on it; a lost one goes back to that same database.
            b.connection->Open();
        } catch (const DatabaseError& e) {
            b.connection->Close();
            setBackground(*b.edit, kRed);
            failures << QStringLiteral("Não foi possível conectar ao %1 \"%2\": %3")
                            .arg(b.caption, text, e.message());
        }
    }
    if (!failures.isEmpty()) throw AppError(failures.join(u'\n'));
}

void TFrmImportador::Edit4Change() {
    const QString text = ui_->Edit4->text();
    tryConnect(*ui_->Edit4, data_->Con_Novo, kServerPrefix, kLime,
               QStringLiteral("Conectado a base de dados: ") + fileNameOf(text));
}

void TFrmImportador::Edit2Change() {
    const QString text = ui_->Edit2->text();
    if (ui_->Ck_Apenas_Tratar_Imagem->isChecked()) {
        // Photo-only mode opens the one database by its bare path.
        tryConnect(*ui_->Edit2, data_->Con_Novo, QString(), kLime, QStringLiteral("Conectado."));
    } else {
        tryConnect(*ui_->Edit2, data_->Con_Velho, kServerPrefix,
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
    RunGuard guard(*this);
    // The mode is read once: the whole run keeps it, whatever happens to the box meanwhile.
    const bool photoOnly = ui_->Ck_Apenas_Tratar_Imagem->isChecked();
    seams_.run(photoOnly);
}

void TFrmImportador::runInMode(bool photoOnly) {
    // A server restarted since the last run leaves dead attachments behind: find them now, so
    // that the run connects again (to the same databases) instead of failing at its first
    // statement.
    data_->Con_Novo.checkAlive();
    data_->Con_Velho.checkAlive();
    bindConnections(photoOnly);
    if (photoOnly) {
        runPhotoPass();
    } else {
        runImport();
    }
}

void TFrmImportador::runPhotoPass() {
    if (PhotoPass(*data_, counters_, *this, seams_.photoWorkers).run() != PhotoPassEnd::Finished)
        return;
    // Once the operator has closed the summary: the run button at once (the run guard still
    // keeps a second run from starting until this click's handler returns), the log button,
    // and the recompressed photos on the desktop.
    setRunEnabled(true);
    setLogButtonEnabled(true);
    openFolder(afterFolder());
}

void TFrmImportador::runImport() {
    ImportRun run(*data_, counters_, *this, seams_.photoWorkers);
    ImportEnd end = ImportEnd::Completed;
    try {
        end = run.run();
    } catch (...) {
        // The report of what was done before the error is in the log view: it can be saved.
        if (run.reportLogged()) setLogButtonEnabled(true);
        throw;
    }
    if (run.reportLogged()) setLogButtonEnabled(true);
    // A run stopped by the operator said where in the log view; no completion is claimed.
    if (end == ImportEnd::Completed)
        showMessage(
            ImportRun::completionMessage(run.report().refusedRows(), run.report().warnings));
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
    showMessage(QStringLiteral("LOG criada com sucesso, salvo junto a este executável."));
}

// RunHost.

void TFrmImportador::setStatus(const QString& text) {
    ui_->LblStatus->setText(text);
}
void TFrmImportador::setWork(const QString& text) {
    ui_->LblWork->setText(text);
    // Measuring the text is the dear part; it waits for the next paint.
    workFitPending_ = true;
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
int TFrmImportador::gaugeMaximum() const {
    return ui_->Gauge1->maximum();
}
int TFrmImportador::gaugeProgress() const {
    return ui_->Gauge1->progress();
}

void TFrmImportador::pumpMessages() {
    // Steps pump after every row. The values are already stored; they are painted, and the
    // operator's input handled, once per frame.
    if (sincePump_.isValid() && sincePump_.elapsed() < kFrameMs) return;
    if (workFitPending_) {
        fitToText(*ui_->LblWork);
        workFitPending_ = false;
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    sincePump_.start();
}

void TFrmImportador::paintStatusNow() {
    if (workFitPending_) {
        fitToText(*ui_->LblWork);
        workFitPending_ = false;
    }
    if (!isVisible()) return;
    for (QWidget* w : {static_cast<QWidget*>(ui_->LblStatus), static_cast<QWidget*>(ui_->LblWork),
                       static_cast<QWidget*>(ui_->Gauge1)}) {
        w->repaint();
    }
}

void TFrmImportador::pause(int milliseconds) {
    // The window handles nothing while it waits: what it shows meanwhile must be current.
    paintStatusNow();
    seams_.pause(milliseconds);
}
void TFrmImportador::waitResponsive(const std::function<bool(int)>& finished) {
    // Short waits with the window's events handled in between: it repaints and answers while
    // the photos are recompressed. Only what a pump would handle is handled, as during a run.
    constexpr int kSliceMs = 15;
    waitingForPhotos_ = true;
    do {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } while (!finished(kSliceMs));
    waitingForPhotos_ = false;
}

void TFrmImportador::showPhoto(const PhotoView& photo) {
    QLabel& box = *ui_->ImgAntes;
    if (photo.width <= 0 || photo.height <= 0 || photo.rgb == nullptr) {
        box.clear();
        return;
    }
    if (photoShown_.isValid() && photoShown_.elapsed() < kPhotoRefreshMs) return;
    photoShown_.start();
    // The picture is only lent: scaled() makes the copy the box keeps.
    const QImage lent(photo.rgb, photo.width, photo.height, 3 * photo.width, QImage::Format_RGB888);
    box.setPixmap(
        QPixmap::fromImage(lent.scaled(box.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void TFrmImportador::showMessage(const QString& text) {
    // A modal box holds the run: the window behind it shows the values of the moment.
    paintStatusNow();
    seams_.message(text);
}
QString TFrmImportador::qualityText() const {
    return ui_->Edit3->text();
}
QString TFrmImportador::skipListText() const {
    return ui_->EdtBensIgnorados->text();
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

void TFrmImportador::saveLog() {
    BtnLOGClick();
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
