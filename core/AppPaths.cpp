#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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

QString beforeFolder() {
    return executableDir() + QStringLiteral("Imagens_Antes/");
}
QString afterFolder() {
    return executableDir() + QStringLiteral("Imagens_Depois/");
}
QString databaseCopiesFolder() {
    return executableDir() + QStringLiteral("Bancos_Antes/");
}
QString logFilePath() {
    return executableDir() + QStringLiteral("Log_Imagens_Com_Erro.txt");
}

bool ensureFolder(const QString& path) {
    if (QFileInfo(path).isDir()) return true;
    return QDir().mkpath(path);
}

}  // namespace patrimonio
