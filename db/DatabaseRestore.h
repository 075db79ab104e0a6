#pragma once
// A database put back as a copy made with the server's own backup holds it, through the server
// itself, so that it works whatever user the server runs as and wherever its files are. Nothing
// else may be attached to the database: it is counted first, and kept out by the server's own
// shutdown of the database at the moment the restored file takes its place.

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

#include "core/Errors.h"
#include "db/DatabaseBackup.h"

namespace patrimonio {

enum class RestoreRoute {
    // This process may rename files in the database's folder: the copy is restored into a new
    // file beside the database, checked, and renamed over it in one step.
    NewFileRenamed,
    // It may not (the server's user owns the folder): the copy is first proved restorable (a
    // scratch database restored through the server, counted, dropped), then the server's own
    // replace restore over the database, which drops it before it reads the copy.
    ServerReplace,
};

// How the copy reaches the server.
enum class RestoreTransport {
    ByPath,    // the server reads the copy's file itself
    Streamed,  // this process reads it and sends it through the services API
};

struct RestoreChoice {
    // Unset: chosen by what this process may do and what the server may reach.
    std::optional<RestoreRoute> route;
    std::optional<RestoreTransport> transport;
};

// What a restore did.
struct Restore {
    QString file;  // the database file, as the engine opens it
    RestoreRoute route = RestoreRoute::NewFileRenamed;
    RestoreTransport transport = RestoreTransport::ByPath;
    qint64 bytesBefore = -1;  // the file's size before and after, when this process sees it
    qint64 bytesAfter = -1;
    int tables = 0;
    // Tables whose rows, counted on the restored database, differ from the rows expected:
    // empty when every table agrees.
    QStringList differences;
};

// Why a restore did not happen. When `targetLost` is false the database is as it was (and
// online); when true the server's replace stopped half-way and the database cannot be used.
class RestoreError : public AppError {
public:
    RestoreError(const QString& message, bool targetLost)
        : AppError(message), targetLost_(targetLost) {}
    bool targetLost() const noexcept { return targetLost_; }

private:
    bool targetLost_;
};

// Restores `copy` over the database `databaseString` names (a server of this computer, or a
// bare path for the engine in this process). Nothing of ours may be attached to it: the
// caller lets go of its connections first. `expectedRows` are every user table's rows when the
// copy was made: the restored copy must hold as many before it takes the database's place,
// and they are counted once more on the database afterwards. Raises RestoreError.
Restore restoreDatabase(const QString& databaseString, const QString& user, const QString& password,
                        const BackupFile& copy, const QMap<QString, qint64>& expectedRows,
                        const RestoreChoice& choice = {});

// What the operator reads for a route and a transport.
QString restoreRouteText(const Restore& restore);

}  // namespace patrimonio
