#pragma once
// The folder the program writes into: the before and after photo folders, the copies of the
// databases and the log file. Beside the executable while this user may write there (a copy
// unpacked in the operator's own folder keeps everything together, as it always did); a
// folder of the operator's own when the executable lies where only an administrator writes
// (installed under /usr, or under Program Files on Windows).

#include <QString>

namespace patrimonio {

// The executable's folder, with a trailing separator.
QString executableDir();
// Tests point this at a temporary folder; empty restores the real one.
void setExecutableDirForTesting(const QString& dir);
// The folder tests set, empty when none is.
QString executableDirForTesting();

// The operator's own folder for the program's files: "Importador patrimônio" in the home
// folder, with a trailing separator.
QString personalFilesFolder();

struct FilesFolder {
    QString path;                  // with a trailing separator
    bool besideExecutable = true;  // false: the operator's own folder
    QString problem;               // why no folder can take the files; empty when one can
};

// Decides now where this run's files go, and keeps it for the folders below until the next
// call (or until the executable's folder changes). A run calls it at its start.
FilesFolder chooseFilesFolder();
// The folder last chosen; chosen on first use.
FilesFolder filesFolder();

QString beforeFolder();          // <files>/Imagens_Antes/
QString afterFolder();           // <files>/Imagens_Depois/
QString databaseCopiesFolder();  // <files>/Bancos_Antes/: copies of databases before a change
QString logFilePath();           // <files>/Log_Imagens_Com_Erro.txt

// The line a run's log starts with: where its photos, copies and log file go.
QString filesFolderLine(const FilesFolder& folder);

// Creates the folder with any missing parents; a link to a folder counts as existing.
// Returns false when it cannot be created (the caller's next write then fails).
bool ensureFolder(const QString& path);

}  // namespace patrimonio
