#pragma once
// Why a connect failed, in the operator's words: a database field that stays red says why,
// with the server's own message beside it for whoever has to look further.

#include <QString>

#include "core/Errors.h"

namespace patrimonio {

struct ConnectFailure {
    enum class Kind {
        InUseThroughServer,  // a bare path refused: a server holds the file for its clients
        InUseDirectly,       // the server refused: a program opened the file without it
        FileNotFound,        // no file by that path (an incomplete path while typing, too)
        IsAFolder,           // the path names a folder
        NotADatabase,        // a file, but not a Firebird database (a text, a photo, a stub)
        OtherVersion,        // a Firebird database of a version this server does not open
        ShutDown,            // the database is shut down for maintenance
        WrongLogin,          // user name or password refused
        ServerNotRunning,    // nothing answers at the server's address and port
        LockFolderRefused,   // this program's engine may not use the engine's lock folder
        NoPermission,        // whoever opens the file may not read it
        ReadOnly,            // whoever opens the file may read it but not write it
        Other,               // anything else: a general phrase and the server's message
    };

    Kind kind = Kind::Other;
    // One short sentence in Portuguese, ending with a full stop.
    QString reason;
    // What the Firebird client or server said, as it said it (several lines at times).
    QString serverMessage;

    // The reason, a line break and the server's message: the text a red field carries.
    QString text() const;
};

// What the failed connect of `database` (the DATABASE line the connection was opened with:
// "host/port:path" through a server, a bare path through this program's own engine) says.
ConnectFailure explainConnectFailure(const DatabaseError& error, const QString& database);

}  // namespace patrimonio
