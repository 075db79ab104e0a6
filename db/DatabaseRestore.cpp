#include "db/DatabaseRestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <filesystem>
#include <system_error>

#include "db/DatabaseCheck.h"
#include "db/FbApi.h"
#include "db/ServiceManager.h"

namespace patrimonio {

namespace {

namespace fs = std::filesystem;

fs::path fsPath(const QString& path) {
    return fs::path(path.toStdU16String());
}

void removeQuietly(const QString& path) {
    std::error_code ignored;
    fs::remove(fsPath(path), ignored);
}

// A server running as another user reaches a file of this one only when everyone may read it
// and pass through every folder above it (a home folder is 0700).
bool reachableByAnyone(const QString& path) {
    const QFileInfo file(path);
    if (!file.permission(QFileDevice::ReadOther)) return false;
    for (QDir dir = file.absoluteDir();;) {
        if (!QFileInfo(dir.absolutePath()).permission(QFileDevice::ExeOther)) return false;
        if (dir.isRoot() || !dir.cdUp()) return true;
    }
}

// The restore's own word that it went to its end: its last stage, after every row and index,
// sets the flags of the new file (gbak run by hand says "finishing" after it).
bool finished(const QStringList& lines) {
    if (lines.isEmpty()) return false;
    const QString& last = lines.constLast();
    return last.contains(QStringLiteral("adjusting the ONLINE and FORCED WRITES flags")) ||
           last.contains(QStringLiteral("finishing, closing, and going home"));
}

class Restorer {
public:
    Restorer(const ServerDatabase& target, const QString& user, const QString& password,
             const BackupFile& copy, RestoreTransport transport)
        : target_(target), user_(user), password_(password), copy_(copy), transport_(transport) {}

    // The copy restored into the database file `into` (as the server names it); `replace`
    // drops a database already there first. Raises AppError with the server's words.
    void restoreInto(const QString& into, bool replace) {
        ServiceRequest request(isc_action_svc_restore);
        request
            .text(isc_spb_bkp_file, transport_ == RestoreTransport::Streamed
                                        ? QByteArrayLiteral("stdin")
                                        : QFile::encodeName(copy_.path))
            .text(isc_spb_dbname, QFile::encodeName(into))
            .number(isc_spb_options, replace ? isc_spb_res_replace : isc_spb_res_create)
            .flag(isc_spb_verbose);
        QStringList lines;
        try {
            ServiceManager manager(target_, user_, password_);
            if (transport_ == RestoreTransport::Streamed) {
                QFile in(copy_.path);
                if (!in.open(QIODevice::ReadOnly)) {
                    throw AppError(
                        QStringLiteral("a cópia %1 não pôde ser lida (%2)")
                            .arg(QDir::toNativeSeparators(copy_.path), in.errorString()));
                }
                lines = manager.send(request, [&](char* bytes, qint64 room) {
                    const qint64 got = in.read(bytes, room);
                    if (got < 0) {
                        throw AppError(
                            QStringLiteral("a cópia %1 não pôde ser lida (%2)")
                                .arg(QDir::toNativeSeparators(copy_.path), in.errorString()));
                    }
                    return got;
                });
            } else {
                lines = manager.run(request);
            }
        } catch (const DatabaseError& e) {
            throw AppError(QStringLiteral("o servidor não restaurou a cópia: %1")
                               .arg(e.message().simplified()));
        }
        if (!finished(lines)) {
            throw AppError(QStringLiteral("o servidor não informou que a restauração terminou (%1)")
                               .arg(lines.isEmpty() ? QString() : lines.constLast().trimmed()));
        }
    }

    // The server's own shutdown of the database: it refuses when anyone else is attached, and
    // keeps everyone out until the database is online again or replaced.
    void shutDown() {
        try {
            ServiceManager(target_, user_, password_)
                .run(ServiceRequest(isc_action_svc_properties)
                         .text(isc_spb_dbname, target_.database.toUtf8())
                         .byte(isc_spb_prp_shutdown_mode, isc_spb_prp_sm_full)
                         .number(isc_spb_prp_attachments_shutdown, 0));
        } catch (const DatabaseError& e) {
            throw AppError(QStringLiteral("outro programa conectou-se ao banco e o servidor não "
                                          "pôde reservá-lo para a restauração (%1)")
                               .arg(e.message().simplified()));
        }
    }

    // Back online after a shutdown that led nowhere. Raises nothing: a database already online
    // is fine.
    void bringOnline() {
        try {
            ServiceManager(target_, user_, password_)
                .run(ServiceRequest(isc_action_svc_properties)
                         .text(isc_spb_dbname, target_.database.toUtf8())
                         .byte(isc_spb_prp_online_mode, isc_spb_prp_sm_normal));
        } catch (const std::exception&) {
        }
    }

private:
    const ServerDatabase& target_;
    const QString& user_;
    const QString& password_;
    const BackupFile& copy_;
    RestoreTransport transport_;
};

QString prefixOf(const ServerDatabase& target) {
    return target.server.isEmpty() ? QString() : target.server + u':';
}

// The restored copy holds every table with the rows it held when it was made.
void checkRows(const QString& databaseString, const QString& user, const QString& password,
               const QMap<QString, qint64>& expectedRows, bool drop) {
    DatabaseCheck check(databaseString, user, password);
    const QStringList differ = rowCountDifferences(expectedRows, check.rowCounts(),
                                                   QStringLiteral("quando a cópia foi "
                                                                  "feita"),
                                                   QStringLiteral("na cópia restaurada"));
    if (drop) check.dropDatabase();
    if (!differ.isEmpty()) {
        throw AppError(QStringLiteral("a cópia restaurada não tem as linhas que o banco tinha "
                                      "quando ela foi feita (%1)")
                           .arg(differ.join(QStringLiteral("; "))));
    }
}

}  // namespace

QString restoreRouteText(const Restore& restore) {
    const QString route =
        restore.route == RestoreRoute::NewFileRenamed
            ? QStringLiteral(
                  "restaurada num arquivo novo ao lado do banco, conferida e posta "
                  "no lugar dele")
            : QStringLiteral(
                  "provada numa restauração à parte e depois restaurada pelo "
                  "servidor por cima do banco");
    const QString transport = restore.transport == RestoreTransport::Streamed
                                  ? QStringLiteral("enviada ao servidor por este programa")
                                  : QStringLiteral("lida pelo servidor no seu arquivo");
    return route + QStringLiteral(", ") + transport;
}

Restore restoreDatabase(const QString& databaseString, const QString& user, const QString& password,
                        const BackupFile& copy, const QMap<QString, qint64>& expectedRows,
                        const RestoreChoice& choice) {
    const ServerDatabase target = ServerDatabase::of(databaseString);
    const auto refuse = [](const QString& reason) { return RestoreError(reason, false); };
    if (!target.onThisMachine()) {
        throw refuse(QStringLiteral("o banco está no servidor %1, e este programa só restaura um "
                                    "banco que está neste computador")
                         .arg(target.server));
    }
    // The copy as it was made: a file cut short or changed since is refused before anything.
    const QFileInfo copyInfo(copy.path);
    if (!copyInfo.isFile()) {
        throw refuse(
            QStringLiteral("a cópia %1 não existe mais").arg(QDir::toNativeSeparators(copy.path)));
    }
    if (copyInfo.size() != copy.bytes) {
        throw refuse(QStringLiteral("a cópia %1 está danificada: tem %2 bytes, e tinha %3 quando "
                                    "foi feita")
                         .arg(QDir::toNativeSeparators(copy.path))
                         .arg(copyInfo.size())
                         .arg(copy.bytes));
    }

    Restore done;
    QString file;
    try {
        DatabaseCheck check(databaseString, user, password);
        if (const int others = check.otherAttachments(); others > 0) {
            throw refuse(QStringLiteral("outro programa está conectado ao banco (%1 conexão(ões) "
                                        "além desta); feche-o e tente de novo")
                             .arg(others));
        }
        file = check.fileName();
    } catch (const DatabaseError& e) {
        throw refuse(QStringLiteral("o banco não pôde ser aberto para a conferência (%1)")
                         .arg(e.message().simplified()));
    }
    if (file.isEmpty()) file = target.database;
    const QFileInfo fileInfo(file);
    done.file = file;
    done.bytesBefore = fileInfo.isFile() ? fileInfo.size() : -1;
    done.tables = static_cast<int>(expectedRows.size());

    const bool mayRename = fileInfo.isFile() && QFileInfo(fileInfo.absolutePath()).isWritable();
    done.route = choice.route.value_or(mayRename ? RestoreRoute::NewFileRenamed
                                                 : RestoreRoute::ServerReplace);
    done.transport = choice.transport.value_or(
        reachableByAnyone(copy.path) ? RestoreTransport::ByPath : RestoreTransport::Streamed);
    Restorer restorer(target, user, password, copy, done.transport);

    // Beside the database, under a name of our own: the same folder keeps the rename on one
    // file system, and the server may create files there (it created the database).
    const QString beside =
        fileInfo.absolutePath() + u'/' + fileInfo.completeBaseName() +
        QStringLiteral(".restaurando-") + QUuid::createUuid().toString(QUuid::Id128).left(8) +
        u'.' + (fileInfo.suffix().isEmpty() ? QStringLiteral("fdb") : fileInfo.suffix());
    const QString prefix = prefixOf(target);

    if (done.route == RestoreRoute::NewFileRenamed) {
        bool swapped = false;
        const struct Cleanup {
            const QString& path;
            const bool& swapped;
            ~Cleanup() {
                if (!swapped) removeQuietly(path);
            }
        } cleanup{beside, swapped};
        try {
            restorer.restoreInto(beside, false);
            checkRows(prefix + beside, user, password, expectedRows, false);
        } catch (const AppError& e) {
            throw refuse(e.message());
        }
        {
            std::error_code ignored;
            fs::permissions(fsPath(beside), fs::status(fsPath(file)).permissions(),
                            fs::perm_options::replace, ignored);
        }
        try {
            restorer.shutDown();
        } catch (const AppError& e) {
            throw refuse(e.message());
        }
        std::error_code error;
        fs::rename(fsPath(beside), fsPath(file), error);
        if (error) {
            restorer.bringOnline();
            throw refuse(QStringLiteral("o arquivo restaurado não pôde tomar o lugar do banco (%1)")
                             .arg(QString::fromLocal8Bit(error.message().c_str())));
        }
        swapped = true;
    } else {
        // The replace drops the database before it reads the copy: the copy is proved first.
        try {
            restorer.restoreInto(beside, false);
            checkRows(prefix + beside, user, password, expectedRows, true);
        } catch (const AppError& e) {
            // A scratch database the check could not drop goes through the server too.
            try {
                DatabaseCheck(prefix + beside, user, password).dropDatabase();
            } catch (const std::exception&) {
            }
            throw refuse(e.message());
        }
        try {
            restorer.shutDown();
        } catch (const AppError& e) {
            throw refuse(e.message());
        }
        try {
            restorer.restoreInto(target.database, true);
        } catch (const AppError& e) {
            throw RestoreError(e.message(), true);
        }
    }

    // Counted once more where the database now is.
    try {
        DatabaseCheck check(databaseString, user, password);
        done.differences = rowCountDifferences(expectedRows, check.rowCounts(),
                                               QStringLiteral("quando a cópia foi feita"),
                                               QStringLiteral("agora"));
    } catch (const DatabaseError& e) {
        throw RestoreError(QStringLiteral("o banco restaurado não pôde ser aberto (%1)")
                               .arg(e.message().simplified()),
                           true);
    }
    done.bytesAfter = QFileInfo(file).isFile() ? QFileInfo(file).size() : -1;
    return done;
}

}  // namespace patrimonio
