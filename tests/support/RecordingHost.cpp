#include "RecordingHost.h"

#include "core/Errors.h"

namespace patrimonio::test {

void RecordingHost::setStatus(const QString& text) {
    events << QStringLiteral("status:") + text;
}
void RecordingHost::setWork(const QString& text) {
    events << QStringLiteral("work:") + text;
}

void RecordingHost::setGaugeMinimum(int value) {
    gauge.setMinimum(value);
    events << QStringLiteral("gauge-min:%1").arg(value);
}
void RecordingHost::setGaugeMaximum(int value) {
    gauge.setMaximum(value);
    events << QStringLiteral("gauge-max:%1").arg(value);
}
void RecordingHost::setGaugeProgress(int value) {
    gauge.setProgress(value);
    events << QStringLiteral("gauge:%1").arg(value);
}

void RecordingHost::pumpMessages() {
    events << QStringLiteral("pump");
    if (onPump) onPump();
}

void RecordingHost::pause(int milliseconds) {
    ++pauses;
    events << QStringLiteral("pause:%1").arg(milliseconds);
}

void RecordingHost::waitResponsive(const std::function<bool(int)>& finished) {
    ++waits;
    while (!finished(-1)) {
    }
}

void RecordingHost::showPhoto(const PhotoView& photo) {
    photosShown << QStringLiteral("%1x%2")
                       .arg(photo.rgb ? photo.width : 0)
                       .arg(photo.rgb ? photo.height : 0);
}

bool RecordingHost::askYesNo(const QString& question) {
    events << QStringLiteral("ask:") + question;
    return answer ? answer(question) : false;
}

void RecordingHost::showError(std::exception_ptr error) {
    QString text;
    try {
        std::rethrow_exception(error);
    } catch (const SilentAbort&) {
    } catch (const AppError& e) {
        text = e.message();
    } catch (const std::exception& e) {
        text = QString::fromLocal8Bit(e.what());
    }
    events << QStringLiteral("error:") + text;
}

void RecordingHost::showMessage(const QString& text) {
    events << QStringLiteral("message:") + text;
}

void RecordingHost::appendLogLine(const QString& line) {
    if (!log.isEmpty() && !log.endsWith(u'\n')) log += u'\n';
    log += line;
    events << QStringLiteral("log:") + line;
}

void RecordingHost::saveLog() {
    events << QStringLiteral("save-log");
    if (onSaveLog) onSaveLog();
    ++saves;
}

QStringList RecordingHost::eventsWith(const QString& prefix) const {
    QStringList out;
    for (const QString& e : events) {
        if (e.startsWith(prefix)) out << e.mid(prefix.size());
    }
    return out;
}

}  // namespace patrimonio::test
