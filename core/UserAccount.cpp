#include "core/UserAccount.h"

#include <QFileInfo>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>
#endif

namespace patrimonio {

QString currentUserName() {
#ifdef Q_OS_UNIX
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
#else
    return qEnvironmentVariable("USERNAME");
#endif
}

bool ownedByAnotherUser(const QString& path) {
#ifdef Q_OS_UNIX
    const QFileInfo info(path);
    if (!info.exists()) return false;
    return info.ownerId() != ::geteuid();
#else
    Q_UNUSED(path);
    return false;
#endif
}

bool giveGroupOf(const QString& model, const QString& file, QString* why) {
#ifdef Q_OS_UNIX
    struct stat m {
    }, f{};
    const QByteArray modelName = QFile::encodeName(model), fileName = QFile::encodeName(file);
    if (::stat(modelName.constData(), &m) != 0 || ::stat(fileName.constData(), &f) != 0) {
        if (why) *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (m.st_gid == f.st_gid) return true;
    if (::chown(fileName.constData(), static_cast<uid_t>(-1), m.st_gid) != 0) {
        if (why) *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
#else
    Q_UNUSED(model);
    Q_UNUSED(file);
    Q_UNUSED(why);
    return true;
#endif
}

}  // namespace patrimonio
