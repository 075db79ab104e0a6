#include "app/RunChannel.h"

#include <QThread>
#include <exception>
#include <thread>

#include "app/ErrorDialog.h"
#include "app/TFrmImportador.h"

namespace patrimonio {

RunChannel::RunChannel(TFrmImportador& window, QString quality, QString skipList)
    : window_(window), quality_(std::move(quality)), skipList_(std::move(skipList)) {
    // A step reads the gauge the last one left.
    gauge_ = window.gaugeModel();
}

void RunChannel::setStatus(const QString& text) {
    const std::lock_guard lock(mutex_);
    status_ = text;
}

void RunChannel::setWork(const QString& text) {
    const std::lock_guard lock(mutex_);
    work_ = text;
}

void RunChannel::setGaugeMinimum(int value) {
    const std::lock_guard lock(mutex_);
    gauge_.setMinimum(value);
    gaugeChanged_ = true;
}

void RunChannel::setGaugeMaximum(int value) {
    const std::lock_guard lock(mutex_);
    gauge_.setMaximum(value);
    gaugeChanged_ = true;
}

void RunChannel::setGaugeProgress(int value) {
    const std::lock_guard lock(mutex_);
    gauge_.setProgress(value);
    gaugeChanged_ = true;
}

int RunChannel::gaugeMaximum() const {
    const std::lock_guard lock(mutex_);
    return gauge_.maximum();
}

int RunChannel::gaugeProgress() const {
    const std::lock_guard lock(mutex_);
    return gauge_.progress();
}

void RunChannel::pause(int milliseconds) {
    // The run waits; the window goes on painting (the pause's status text among the rest).
    if (const auto& seam = window_.seams().pause) {
        ask([&] {
            window_.paintStatusNow();
            seam(milliseconds);
        });
    } else {
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    }
    if (progress_) {
        progress_->paused();
        refreshProgress(false);
    }
}

void RunChannel::planned(const RunWork& work) {
    progress_.emplace(work);
    refreshProgress(true);
}

void RunChannel::rowsDone(std::int64_t rows, std::int64_t photoBytes) {
    if (!progress_) return;
    progress_->advance(rows, photoBytes);
    refreshProgress(false);
}

void RunChannel::refreshProgress(bool now) {
    if (!progressRefresh_.due() && !now) return;
    const QString line = progress_->line();
    const std::lock_guard lock(mutex_);
    progressLine_ = line;
}

void RunChannel::waitResponsive(const std::function<bool(int)>& finished) {
    waitingForPhotos_ = true;
    while (!finished(-1)) {
    }
    waitingForPhotos_ = false;
}

void RunChannel::showPhoto(const PhotoView& photo) {
    const bool empty = photo.width <= 0 || photo.height <= 0 || photo.rgb == nullptr;
    {
        const std::lock_guard lock(mutex_);
        const Clock::time_point now = Clock::now();
        // Pictures that come faster than the box refreshes are skipped; an empty box never.
        if (!empty && photoTaken_ &&
            now - *photoTaken_ < std::chrono::milliseconds(kPhotoRefreshMs)) {
            return;
        }
        if (empty) {
            photo_ = QImage();
            return;
        }
        photoTaken_ = now;
    }
    // The picture is only lent: the copy is made here, outside the lock.
    QImage copy =
        QImage(photo.rgb, photo.width, photo.height, 3 * photo.width, QImage::Format_RGB888).copy();
    const std::lock_guard lock(mutex_);
    photo_ = std::move(copy);
}

QString RunChannel::logText() const {
    QString text;
    ask([&] { text = window_.logText(); });
    return text;
}

void RunChannel::setLogText(const QString& text) {
    const std::lock_guard lock(mutex_);
    logEdits_.push_back([text](TFrmImportador& w) { w.setLogText(text); });
}

void RunChannel::appendLogLine(const QString& line) {
    const std::lock_guard lock(mutex_);
    logEdits_.push_back([line](TFrmImportador& w) { w.appendLogLine(line); });
}

void RunChannel::showMessage(const QString& text) {
    ask([&] { window_.showMessage(text); });
}

void RunChannel::showError(std::exception_ptr error) {
    ask([&] {
        window_.paintStatusNow();
        showErrorDialog(error);
    });
}

bool RunChannel::askYesNo(const QString& question) {
    bool sim = false;
    ask([&] { sim = window_.askYesNo(question); });
    return sim;
}

bool RunChannel::stopRequested() const {
    return window_.stopRequested();
}

void RunChannel::saveLog() {
    ask([&] { window_.BtnLOGClick(); });
}

void RunChannel::deliver() {
    std::optional<QString> status, work;
    std::optional<GaugeModel> gauge;
    std::optional<QImage> photo;
    std::vector<std::function<void(TFrmImportador&)>> logEdits;
    const std::function<void()>* question = nullptr;
    std::optional<QString> progressLine;
    {
        const std::lock_guard lock(mutex_);
        progressLine.swap(progressLine_);
        status.swap(status_);
        work.swap(work_);
        if (gaugeChanged_) gauge = gauge_;
        gaugeChanged_ = false;
        photo.swap(photo_);
        logEdits.swap(logEdits_);
        if (question_ && !questionTaken_) {
            question = question_;
            questionTaken_ = true;
        }
    }
    for (const auto& edit : logEdits) edit(window_);
    if (status) window_.setStatus(*status);
    if (work) window_.setWork(*work);
    if (gauge) window_.setGaugeModel(*gauge);
    if (photo) window_.showPicture(*photo);
    if (progressLine) window_.setProgressLine(*progressLine);
    if (!question) return;

    std::exception_ptr error;
    try {
        (*question)();
    } catch (...) {
        error = std::current_exception();
    }
    {
        const std::lock_guard lock(mutex_);
        questionError_ = error;
        questionDone_ = true;
    }
    answered_.notify_all();
}

void RunChannel::ask(const std::function<void()>& question) const {
    if (std::this_thread::get_id() == window_.threadId()) {
        const_cast<RunChannel*>(this)->deliver();
        question();
        return;
    }
    std::exception_ptr error;
    {
        std::unique_lock lock(mutex_);
        question_ = &question;
        questionTaken_ = false;
        questionDone_ = false;
        answered_.wait(lock, [this] { return questionDone_; });
        question_ = nullptr;
        error = std::exchange(questionError_, nullptr);
    }
    if (error) std::rethrow_exception(error);
}

void RunChannel::finish(const RunOutcome& outcome, std::exception_ptr error) {
    const bool ranToItsEnd = !error && (outcome.importEnd == ImportEnd::Completed ||
                                        outcome.passEnd == PhotoPassEnd::Finished);
    if (progress_ && ranToItsEnd) {
        progress_->finish();
        refreshProgress(true);
    }
    const std::lock_guard lock(mutex_);
    ended_ = true;
    outcome_ = outcome;
    error_ = error;
}

bool RunChannel::ended(RunOutcome* outcome, std::exception_ptr* error) const {
    const std::lock_guard lock(mutex_);
    if (!ended_) return false;
    *outcome = outcome_;
    *error = error_;
    return true;
}

}  // namespace patrimonio
