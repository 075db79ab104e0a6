#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryFile>

#include "core/UserAccount.h"

namespace patrimonio {

namespace {
QString& overrideDir() {
    static QString dir;
    return dir;
}

QString withSlash(QString dir) {
    if (!dir.endsWith(u'/')) dir += u'/';
    return dir;
}

// The choice is read by the run's thread and the photo workers while the window's thread may
// make a new one for the next run.
struct Chosen {
    QMutex mutex;
    QString forExecutableDir;
    FilesFolder folder;
};
Chosen& chosen() {
    static Chosen c;
    return c;
}

// Whether this user may make files in `dir`, tried for real: permission bits say nothing of
// a read-only file system, an ACL or Windows' folder rights.
bool acceptsFiles(const QString& dir, QString* why) {
    QTemporaryFile probe(withSlash(dir) + QStringLiteral(".importador-teste-XXXXXX"));
    if (!probe.open()) {
        if (why) *why = probe.errorString();
        return false;
    }
    return true;
}

// The folder itself, or the nearest folder above it that exists: a folder not made yet can be
// made where that one accepts files.
QString nearestExisting(const QString& dir) {
    QFileInfo info(dir);
    while (!info.exists()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath()) break;
        info = QFileInfo(parent);
    }
    return info.absoluteFilePath();
}

// The executable's folder takes the program's files when it (or the folder it would be made
// in) belongs to this user and accepts files.
bool besideExecutableWorks(const QString& exe) {
    const QString existing = nearestExisting(exe);
    if (!QFileInfo(existing).isDir()) return false;  // a file where a folder must be
    // Another user's folder is never ours to fill, even when it lets everybody write.
    return !ownedByAnotherUser(existing) && acceptsFiles(existing, nullptr);
}

}  // namespace

QString executableDir() {
    if (!overrideDir().isEmpty()) return withSlash(overrideDir());
    return withSlash(QCoreApplication::applicationDirPath());
}

QString executableDirForTesting() {
    return overrideDir();
}

void setExecutableDirForTesting(const QString& dir) {
    overrideDir() = dir;
}

QString personalFilesFolder() {
    return withSlash(QDir::homePath()) + QStringLiteral("Importador patrimônio/");
}

FilesFolder chooseFilesFolder() {
    const QString exe = executableDir();
    FilesFolder folder;
    if (besideExecutableWorks(exe)) {
        folder.path = exe;
    } else {
        folder.path = personalFilesFolder();
        folder.besideExecutable = false;
        QString why;
        if (!ensureFolder(folder.path)) {
            why = QStringLiteral("a pasta não pôde ser criada");
        } else {
            acceptsFiles(folder.path, &why);
        }
        if (!why.isEmpty()) {
            folder.problem =
                QStringLiteral(
                    "Nenhuma pasta aceita os arquivos do programa: a pasta do programa "
                    "(%1) não pode ser gravada por este usuário, e a pasta %2 também "
                    "não (%3).")
                    .arg(QDir::toNativeSeparators(exe), QDir::toNativeSeparators(folder.path), why);
        }
    }
    Chosen& c = chosen();
    const QMutexLocker lock(&c.mutex);
    c.forExecutableDir = exe;
    c.folder = folder;
    return folder;
}

FilesFolder filesFolder() {
    Chosen& c = chosen();
    {
        const QMutexLocker lock(&c.mutex);
        if (!c.forExecutableDir.isEmpty() && c.forExecutableDir == executableDir()) return c.folder;
    }
    return chooseFilesFolder();
}

QString beforeFolder() {
    return filesFolder().path + QStringLiteral("Imagens_Antes/");
}
QString afterFolder() {
    return filesFolder().path + QStringLiteral("Imagens_Depois/");
}
QString databaseCopiesFolder() {
    return filesFolder().path + QStringLiteral("Bancos_Antes/");
}
QString logFilePath() {
    return filesFolder().path + QStringLiteral("Log_Imagens_Com_Erro.txt");
}

QString filesFolderLine(const FilesFolder& folder) {
    QString line = QStringLiteral(
                       "Arquivos desta execução em %1: fotos em Imagens_Antes e "
                       "Imagens_Depois, cópias dos bancos em Bancos_Antes, log em "
                       "Log_Imagens_Com_Erro.txt.")
                       .arg(QDir::toNativeSeparators(folder.path));
    if (!folder.besideExecutable) {
        line += QStringLiteral(" (A pasta do programa não pode ser gravada por este usuário.)");
    }
    return line;
}

bool ensureFolder(const QString& path) {
    if (QFileInfo(path).isDir()) return true;
    return QDir().mkpath(path);
}

}  // namespace patrimonio
