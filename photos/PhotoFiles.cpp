#include "photos/PhotoFiles.h"

#include <QFile>

#include "core/AppPaths.h"

namespace patrimonio {

namespace {

constexpr int kNameKeep = 40;

FileWrite failed(FileWrite::Failure failure, const QFile& file) {
    return {failure, QStringLiteral("%1: %2").arg(file.fileName(), file.errorString())};
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

FileWrite writeWholeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return failed(FileWrite::Failure::Create, file);
    if (file.write(bytes) != bytes.size() || !file.flush())
        return failed(FileWrite::Failure::Write, file);
    file.close();
    if (file.error() != QFileDevice::NoError) return failed(FileWrite::Failure::Write, file);
    return {};
}

}  // namespace patrimonio
