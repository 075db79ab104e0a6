#pragma once
// Folders beside the executable: the before and after photo folders and the log file.

#include <QString>

namespace patrimonio {

// The executable's folder, with a trailing separator.
QString executableDir();
// Tests point this at a temporary folder; empty restores the real one.
void setExecutableDirForTesting(const QString& dir);
// The folder tests set, empty when none is.
QString executableDirForTesting();

QString beforeFolder();          // <exe>/Imagens_Antes/
QString afterFolder();           // <exe>/Imagens_Depois/
QString databaseCopiesFolder();  // <exe>/Bancos_Antes/: copies of databases before a change
QString logFilePath();           // <exe>/Log_Imagens_Com_Erro.txt

// Creates the folder with any missing parents; a link to a folder counts as existing.
// Returns false when it cannot be created (the caller's next write then fails).
bool ensureFolder(const QString& path);

}  // namespace patrimonio
