#pragma once
// A copy of a whole database made with Firebird's own backup (the format its gbak tool restores),
// through the server's services API: written by the server itself when it can, else streamed to
// this process, which writes it. The file is written whole or not at all (a temporary name in
// its folder, renamed once the server says the backup finished and its size is checked) and
// never replaces another.

#include <QDateTime>
#include <QString>
#include <functional>

#include "db/ServiceManager.h"

namespace patrimonio {

struct BackupFile {
    QString path;      // where the copy is
    qint64 bytes = 0;  // its size
};

// How the backup reaches the file.
enum class BackupRoute {
    // The server writes the file itself when it is on this machine and may write into the
    // folder (a second for hundreds of MB); otherwise, or when that fails, the stream below.
    Fastest,
    // The server streams the backup to this process, which writes the file: works whatever user
    // the server runs as and wherever it runs, and the file belongs to the operator.
    Streamed,
};

// Backs up the database `databaseString` names into `file` (taken as it is; when a file holds
// that name already, the next numbered name). Raises AppError with the reason when the copy
// cannot be made whole (the server refuses, the stream ends early, the disk is full, the folder
// cannot be written); nothing is left behind then. `progress` is told the bytes received so
// far.
BackupFile backupDatabase(const QString& databaseString, const QString& user,
                          const QString& password, const QString& file,
                          const std::function<void(qint64 bytes)>& progress = {},
                          BackupRoute route = BackupRoute::Fastest);

// The name of a copy of the database `databaseString` names, made at `when`, by the file's own
// name: destino_2026-12-10_18-30-05.fbk.
QString backupFileName(const QString& databaseString, const QDateTime& when);

// The command that restores a copy with Firebird's own tool into a new database file.
QString restoreCommand(const BackupFile& copy, const QString& databaseString, const QString& user,
                       const QString& password);

}  // namespace patrimonio
