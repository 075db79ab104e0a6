#include "FullFolder.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <cerrno>
#include <cstring>

#ifdef __linux__
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace patrimonio::test {

namespace {

const QString kFiller = QStringLiteral("enchimento");

}  // namespace

FullFolder::FullFolder(const QString& path, const QMap<QString, QByteArray>& files, int megabytes)
    : path_(QDir::cleanPath(path)) {
#ifdef __linux__
    if (::geteuid() != 0) {
        whyNot_ = QStringLiteral("mounting a small tmpfs needs root, and this test is not root");
        return;
    }
    QDir().mkpath(path_);
    const QByteArray where = QFile::encodeName(path_);
    const QByteArray size = "size=" + QByteArray::number(megabytes) + 'm';
    if (::mount("tmpfs", where.constData(), "tmpfs", 0, size.constData()) != 0) {
        whyNot_ = QStringLiteral("mount -t tmpfs on %1 was refused: %2")
                      .arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    mounted_ = true;
    for (auto it = files.begin(); it != files.end(); ++it) {
        QFile file(path_ + u'/' + it.key());
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value()) != it.value().size()) {
            whyNot_ = QStringLiteral("cannot write %1 on the tmpfs").arg(it.key());
            mounted_ = false;
            ::umount(where.constData());
            return;
        }
    }
    // Filled until the file system says it has no space left.
    const QByteArray filler = QFile::encodeName(path_ + u'/' + kFiller);
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        whyNot_ = QStringLiteral("cannot fill the tmpfs: %1")
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    const QByteArray chunk(4096, 'x');
    const QByteArray large(1 << 20, 'x');
    while (::write(fd, large.constData(), large.size()) > 0) {
    }
    while (::write(fd, chunk.constData(), chunk.size()) > 0) {
    }
    // Smaller writes take whatever a page left.
    while (::write(fd, chunk.constData(), 1) > 0) {
    }
    ::close(fd);
#else
    (void)files;
    (void)megabytes;
    whyNot_ = QStringLiteral("a full file system is only made on Linux");
#endif
}

FullFolder::~FullFolder() {
#ifdef __linux__
    if (!mounted_) return;
    const QByteArray where = QFile::encodeName(path_);
    if (::umount(where.constData()) != 0) ::umount2(where.constData(), MNT_DETACH);
#endif
}

QStringList FullFolder::entries() const {
    QStringList names = QDir(path_).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                              QDir::NoDotAndDotDot);
    names.removeAll(kFiller);
    return names;
}

}  // namespace patrimonio::test
