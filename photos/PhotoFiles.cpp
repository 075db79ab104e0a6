#include "photos/PhotoFiles.h"

#include <QFile>
#include <QFileInfo>

#include "core/AppPaths.h"
#include "core/Text.h"

namespace patrimonio {

namespace {

constexpr int kNameKeep = 40;
// Numbered names tried before saving a photo is given up as failed.
constexpr int kMaxNumberedNames = 10000;

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
