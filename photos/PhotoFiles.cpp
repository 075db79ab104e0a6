#include "photos/PhotoFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <filesystem>
#include <system_error>

#include "core/AppPaths.h"
#include "core/Text.h"

#ifndef _WIN32
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace patrimonio {

namespace {

constexpr int kNameKeep = 40;
// Numbered names tried before saving a photo is given up as failed.
constexpr int kMaxNumberedNames = 10000;

FileWrite failed(FileWrite::Failure failure, const QString& path, const QString& reason) {
    return {failure, QStringLiteral("%1: %2").arg(path, reason), reason};
}

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

bool sameBytes(const QString& path, const QByteArray& bytes) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() != bytes.size()) return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    return file.readAll() == bytes && file.error() == QFileDevice::NoError;
}

}  // namespace

QString beforeFile(const QString& code, const QString& name) {
    return beforeFolder() + code + QStringLiteral("__") + name;
}

QString afterFile(const QString& code, const QString& name) {
    return afterFolder() + code + QStringLiteral(" ") + name;
}

// A name without an extension gets one, so that the recompressed photo has a JPEG file name.
QString newImageName(const QString& name) {
    return name.left(kNameKeep) + QStringLiteral(".jpg");
}

bool containsFolderSeparator(const QString& name) {
    return name.contains(u'/') || name.contains(u'\\');
}

FileWrite writeWholeFile(const QString& path, const QByteArray& bytes, Existing existing) {
    const QFileInfo target(path);
    // A short name of our own in the target's folder: the rename then never crosses file
    // systems, and a long photo name cannot make the temporary name too long.
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/importador-XXXXXX.tmp"));
    if (!temporary.open()) return failed(FileWrite::Failure::Create, path, temporary.errorString());
    // Asking for the name gives the temporary file one on every system, before it is closed.
    const QString temporaryName = temporary.fileName();
    temporary.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (temporary.write(bytes) != bytes.size() || !temporary.flush()) {
        return failed(FileWrite::Failure::Write, path, temporary.errorString());
    }
    const QString notSynced = syncToDisk(temporary);
    if (!notSynced.isEmpty()) return failed(FileWrite::Failure::Write, path, notSynced);
    temporary.close();
    if (temporary.error() != QFileDevice::NoError) {
        return failed(FileWrite::Failure::Write, path, temporary.errorString());
    }

    if (existing == Existing::Keep) {
        // This rename refuses a name that exists, at the moment of the rename itself.
        if (QFile::rename(temporaryName, path)) {
            temporary.setAutoRemove(false);
            return {};
        }
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
            return failed(FileWrite::Failure::Exists, path, QStringLiteral("the file exists"));
        }
        return failed(FileWrite::Failure::Write, path,
                      QStringLiteral("cannot rename %1").arg(temporaryName));
    }
    std::error_code error;
    std::filesystem::rename(fsPath(temporaryName), fsPath(path), error);
    if (error) {
        return failed(FileWrite::Failure::Write, path, QString::fromLocal8Bit(error.message()));
    }
    temporary.setAutoRemove(false);
    return {};
}

QString numberedFileName(const QString& path, int n) {
    if (n <= 1) return path;
    const QString number = QStringLiteral(" (%1)").arg(n);
    const QString extension = extensionOf(path);
    return path.left(path.size() - extension.size()) + number + extension;
}

BeforeFileSave saveBeforeFile(const QString& path, const QByteArray& bytes) {
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QString candidate = numberedFileName(path, n);
        if (sameBytes(candidate, bytes)) {
            return {BeforeFileSave::Outcome::AlreadySaved, candidate, {}};
        }
        const QFileInfo info(candidate);
        if (info.exists() || info.isSymLink()) continue;
        const FileWrite written = writeWholeFile(candidate, bytes, Existing::Keep);
        if (written.ok()) return {BeforeFileSave::Outcome::Written, candidate, {}};
        // Taken between the look and the rename: the next name is tried.
        if (written.failure == FileWrite::Failure::Exists) continue;
        return {BeforeFileSave::Outcome::Failed, {}, written.detail};
    }
    return {BeforeFileSave::Outcome::Failed,
            {},
            QStringLiteral("%1: every numbered name up to (%2) is taken")
                .arg(path)
                .arg(kMaxNumberedNames)};
}

}  // namespace patrimonio
