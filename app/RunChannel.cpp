#include "app/RunChannel.h"

#include <QThread>
#include <exception>

#include "app/ErrorDialog.h"
#include "app/TFrmImportador.h"

namespace patrimonio {

namespace {

// On the window's thread.
void show(TFrmImportador& window, const RunFrame& frame) {
    for (const RunFrame::LogEdit& edit : frame.log) {
        if (edit.replace) {
            window.setLogText(edit.text);
        } else {
            window.appendLogLine(edit.text);
        }
    }
    if (frame.status) window.setStatus(*frame.status);
    if (frame.work) window.setWork(*frame.work);
    if (frame.gauge) window.setGaugeModel(*frame.gauge);
    if (frame.photo) window.showPicture(*frame.photo);
    if (frame.progressLine) window.setProgressLine(*frame.progressLine);
}

}  // namespace

RunChannel::RunChannel(TFrmImportador& window, QString quality, QString skipList)
    : window_(window),
      quality_(std::move(quality)),
      skipList_(std::move(skipList)),
      pauseOnWindow_(static_cast<bool>(window.seams().pause)),
      // A step reads the gauge the last one left.
      gauge_(window.gaugeModel()) {
    connect(this, &RunChannel::reported, &window, [this](const RunFrame& frame) {
        cross();
        show(window_, frame);
    });
    connect(
        this, &RunChannel::asked, &window,
        [this](const std::function<void()>& answer) {
            cross();
            answer();
            cross();
        },
        Qt::BlockingQueuedConnection);
}

void RunChannel::setStatus(const QString& text) {
    pending_.status = text;
    deliver();
}

void RunChannel::setWork(const QString& text) {
    pending_.work = text;
    deliverIfDue();
}

void RunChannel::setGaugeMinimum(int value) {
    gauge_.setMinimum(value);
    pending_.gauge = gauge_;
    deliverIfDue();
}

void RunChannel::setGaugeMaximum(int value) {
    gauge_.setMaximum(value);
    pending_.gauge = gauge_;
    deliverIfDue();
}

void RunChannel::setGaugeProgress(int value) {
    gauge_.setProgress(value);
    pending_.gauge = gauge_;
    deliverIfDue();
}

void RunChannel::pause(int milliseconds) {
    // The run waits; the window goes on painting (the pause's status text among the rest).
    if (pauseOnWindow_) {
        ask([&] {
            window_.paintStatusNow();
            window_.seams().pause(milliseconds);
        });
    } else {
        deliver();
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
    pending_.progressLine = progress_->line();
    deliver();
}

void RunChannel::waitResponsive(const std::function<bool(int)>& finished) {
    deliver();
    waitingForPhotos_ = true;
    while (!finished(-1)) {
    }
    waitingForPhotos_ = false;
}

void RunChannel::showPhoto(const PhotoView& photo) {
    if (photo.width <= 0 || photo.height <= 0 || photo.rgb == nullptr) {
        pending_.photo = QImage();
    } else {
        // Pictures that come faster than the box refreshes are skipped; an empty box never.
        const Clock::time_point now = Clock::now();
        if (photoTaken_ && now - *photoTaken_ < std::chrono::milliseconds(kPhotoRefreshMs)) {
            return;
        }
        photoTaken_ = now;
        // The picture is only lent: the window is sent a copy.
        pending_.photo =
            QImage(photo.rgb, photo.width, photo.height, 3 * photo.width, QImage::Format_RGB888)
                .copy();
    }
    deliver();
}

QString RunChannel::logText() const {
    QString text;
    ask([&] { text = window_.logText(); });
    return text;
}

void RunChannel::setLogText(const QString& text) {
    pending_.log.push_back({true, text});
    deliver();
}

void RunChannel::appendLogLine(const QString& line) {
    pending_.log.push_back({false, line});
    deliver();
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

void RunChannel::deliverIfDue() {
    if (Clock::now() - lastFrame_ >= std::chrono::milliseconds(kFrameMs)) deliver();
}

void RunChannel::deliver() const {
    if (pending_.empty()) return;
    const RunFrame frame = std::exchange(pending_, RunFrame());
    lastFrame_ = Clock::now();
    cross();
    emit reported(frame);
}

void RunChannel::ask(const std::function<void()>& question) const {
    deliver();
    std::exception_ptr error;
    const std::function<void()> answer = [&] {
        try {
            question();
        } catch (...) {
            error = std::current_exception();
        }
    };
    if (QThread::currentThread() == window_.thread()) {
        answer();
    } else {
        cross();
        emit asked(answer);
        cross();
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
    deliver();
    emit ended();
}

}  // namespace patrimonio
