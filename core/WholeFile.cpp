#include "core/WholeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <filesystem>
#include <system_error>

#include "core/Text.h"

#ifndef _WIN32
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace patrimonio {

namespace {

// Asks the system to put the file's bytes on the disk, so that a disk that is full or failing
// says so now rather than after the file has been renamed into place. On Windows the checked
// close is what is relied on.
QString syncToDisk(QFileDevice& file) {
#ifndef _WIN32
    const int fd = file.handle();
    // A file system that cannot sync (EINVAL) has nothing to flush beyond the close.
    if (fd >= 0 && ::fsync(fd) != 0 && errno != EINVAL) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
#else
    Q_UNUSED(file);
#endif
    return {};
}

std::filesystem::path fsPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

}  // namespace

WholeFileWriter::WholeFileWriter(const QString& path) : path_(path) {}

WholeFileWriter::~WholeFileWriter() = default;

FileWrite WholeFileWriter::failed(FileWrite::Failure failure, const QString& reason) const {
    return {failure, QStringLiteral("%1: %2").arg(path_, reason), reason};
}

FileWrite WholeFileWriter::open() {
    const QFileInfo target(path_);
    // A short name of our own in the target's folder: the rename then never crosses file
    // systems, and a long name cannot make the temporary name too long.
    temporary_ = std::make_unique<QTemporaryFile>(target.absolutePath() +
                                                  QStringLiteral("/importador-XXXXXX.tmp"));
    if (!temporary_->open()) return failed(FileWrite::Failure::Create, temporary_->errorString());
    // Asking for the name gives the temporary file one on every system, before it is closed.
    (void)temporary_->fileName();
    temporary_->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                               QFileDevice::ReadGroup | QFileDevice::ReadOther);
    written_ = 0;
    return {};
}

FileWrite WholeFileWriter::append(const char* bytes, qint64 size) {
    if (!temporary_ || temporary_->write(bytes, size) != size) {
        return failed(FileWrite::Failure::Write,
                      temporary_ ? temporary_->errorString() : QStringLiteral("not open"));
    }
    written_ += size;
    return {};
}

QString WholeFileWriter::temporaryName() const {
    return temporary_ ? temporary_->fileName() : QString();
}

FileWrite WholeFileWriter::adoptWrittenByOther() {
    if (!temporary_) return failed(FileWrite::Failure::Write, QStringLiteral("not open"));
    const qint64 size = QFileInfo(temporary_->fileName()).size();
    if (size <= 0) {
        return failed(FileWrite::Failure::Write, QStringLiteral("nothing was written into it"));
    }
    written_ = size;
    return {};
}

FileWrite WholeFileWriter::finish() {
    if (finished_) return {};
    if (!temporary_) return failed(FileWrite::Failure::Write, QStringLiteral("not open"));
    if (!temporary_->flush()) return failed(FileWrite::Failure::Write, temporary_->errorString());
    const QString notSynced = syncToDisk(*temporary_);
    if (!notSynced.isEmpty()) return failed(FileWrite::Failure::Write, notSynced);
    temporaryName_ = temporary_->fileName();
    temporary_->close();
    if (temporary_->error() != QFileDevice::NoError) {
        return failed(FileWrite::Failure::Write, temporary_->errorString());
    }
    // What reached the disk is what was appended, to the byte.
    const qint64 onDisk = QFileInfo(temporaryName_).size();
    if (onDisk != written_) {
        return failed(FileWrite::Failure::Write,
                      QStringLiteral("the file holds %1 bytes of %2").arg(onDisk).arg(written_));
    }
    finished_ = true;
    return {};
}

FileWrite WholeFileWriter::renameTo(const QString& path, Existing existing) {
    path_ = path;
    if (existing == Existing::Keep) {
        // This rename refuses a name that exists, at the moment of the rename itself.
        if (QFile::rename(temporaryName_, path_)) {
            temporary_->setAutoRemove(false);
            return {};
        }
        if (QFileInfo::exists(path_) || QFileInfo(path_).isSymLink()) {
            return failed(FileWrite::Failure::Exists, QStringLiteral("the file exists"));
        }
        return failed(FileWrite::Failure::Write,
                      QStringLiteral("cannot rename %1").arg(temporaryName_));
    }
    std::error_code error;
    std::filesystem::rename(fsPath(temporaryName_), fsPath(path_), error);
    if (error) return failed(FileWrite::Failure::Write, QString::fromLocal8Bit(error.message()));
    temporary_->setAutoRemove(false);
    return {};
}

FileWrite WholeFileWriter::commit(Existing existing) {
    if (const FileWrite done = finish(); !done.ok()) return done;
    return renameTo(path_, existing);
}

FileWrite WholeFileWriter::commitUnderFreeName() {
    if (const FileWrite done = finish(); !done.ok()) return done;
    const QString base = path_;
    constexpr int kMaxNumberedNames = 10000;
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QString candidate = numberedFileName(base, n);
        const QFileInfo info(candidate);
        if (info.exists() || info.isSymLink()) continue;
        const FileWrite renamed = renameTo(candidate, Existing::Keep);
        // Taken between the look and the rename: the next name is tried.
        if (renamed.failure == FileWrite::Failure::Exists) continue;
        return renamed;
    }
    path_ = base;
    return failed(FileWrite::Failure::Exists, QStringLiteral("every numbered name is taken"));
}

FileWrite writeWholeFile(const QString& path, const QByteArray& bytes, Existing existing) {
    WholeFileWriter writer(path);
    FileWrite step = writer.open();
    if (step.ok()) step = writer.append(bytes.constData(), bytes.size());
    if (step.ok()) step = writer.commit(existing);
    return step;
}

QString numberedFileName(const QString& path, int n) {
    if (n <= 1) return path;
    const QString number = QStringLiteral(" (%1)").arg(n);
    const QString extension = extensionOf(path);
    return path.left(path.size() - extension.size()) + number + extension;
}

}  // namespace patrimonio
