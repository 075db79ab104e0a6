#include "db/DatabaseBackup.h"

#include <QFile>
#include <QFileInfo>
#include <memory>

#include "core/Errors.h"
#include "core/WholeFile.h"
#include "db/FbApi.h"

namespace patrimonio {

namespace {

ServiceRequest backupRequest(const ServerDatabase& target, const QByteArray& into) {
    ServiceRequest request(isc_action_svc_backup);
    request.text(isc_spb_dbname, target.database.toUtf8()).text(isc_spb_bkp_file, into);
    return request;
}

// The server writes the backup itself into the writer's temporary file: by far the fastest way
// (no stream through the wire protocol), possible when the server is on this machine and may
// write into the folder. False when it could not; the caller then has the backup streamed.
bool backupWrittenByTheServer(const ServerDatabase& target, const QString& user,
                              const QString& password, WholeFileWriter& writer) {
    if (!target.onThisMachine()) return false;
    try {
        ServiceManager(target, user, password)
            .run(backupRequest(target, QFile::encodeName(writer.temporaryName())));
    } catch (const std::exception&) {
        // A folder the server's user may not write, a full disk, a server that sees another
        // file system: the stream is tried next, on a fresh temporary file.
        return false;
    }
    return writer.adoptWrittenByOther().ok();
}

void streamBackup(const ServerDatabase& target, const QString& user, const QString& password,
                  WholeFileWriter& writer, const std::function<void(qint64)>& progress) {
    // "stdout": the server hands the backup to us instead of writing a file of its own.
    ServiceManager(target, user, password)
        .receive(backupRequest(target, QByteArrayLiteral("stdout")), [&](const char* bytes,
                                                                         qint64 length) {
            if (const FileWrite w = writer.append(bytes, length); !w.ok()) {
                throw AppError(QStringLiteral("o arquivo não pôde ser gravado (%1)").arg(w.detail));
            }
            if (progress) progress(writer.written());
        });
}

void openOrRefuse(WholeFileWriter& writer) {
    if (const FileWrite opened = writer.open(); !opened.ok()) {
        throw AppError(QStringLiteral("a pasta não aceita o arquivo (%1)").arg(opened.detail));
    }
}

}  // namespace

BackupFile backupDatabase(const QString& databaseString, const QString& user,
                          const QString& password, const QString& file,
                          const std::function<void(qint64)>& progress, BackupRoute route) {
    const ServerDatabase target = ServerDatabase::of(databaseString);

    // The file first: a folder that cannot take it stops everything before the server works.
    auto writer = std::make_unique<WholeFileWriter>(file);
    openOrRefuse(*writer);
    if (route == BackupRoute::Streamed ||
        !backupWrittenByTheServer(target, user, password, *writer)) {
        // Whatever the server left in the first temporary file goes with it.
        writer = std::make_unique<WholeFileWriter>(file);
        openOrRefuse(*writer);
        streamBackup(target, user, password, *writer, progress);
    } else if (progress) {
        progress(writer->written());
    }
    if (writer->written() == 0) {
        throw AppError(QStringLiteral("o servidor não enviou nada da cópia"));
    }
    // A name that exists is never replaced: the copy takes the next free numbered name.
    const FileWrite committed = writer->commitUnderFreeName();
    if (!committed.ok()) {
        throw AppError(QStringLiteral("o arquivo não pôde ser gravado (%1)").arg(committed.detail));
    }
    return {writer->path(), QFileInfo(writer->path()).size()};
}

QString backupFileName(const QString& databaseString, const QDateTime& when) {
    const QString file = QFileInfo(ServerDatabase::of(databaseString).database).completeBaseName();
    return file + u'_' + when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) +
           QStringLiteral(".fbk");
}

QString restoreCommand(const BackupFile& copy, const QString& databaseString, const QString& user,
                       const QString& password) {
    const ServerDatabase target = ServerDatabase::of(databaseString);
    const QFileInfo original(target.database);
    const QString restored = original.absolutePath() + u'/' + original.completeBaseName() +
                             QStringLiteral("_restaurado.fdb");
    const QString into = target.server.isEmpty() ? restored : target.server + u':' + restored;
    return QStringLiteral("gbak -c -user %1 -password %2 \"%3\" \"%4\"")
        .arg(user, password, copy.path, into);
}

}  // namespace patrimonio
