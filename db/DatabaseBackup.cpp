#include "db/DatabaseBackup.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cstring>
#include <memory>
#include <vector>

#include "core/Errors.h"
#include "core/WholeFile.h"
#include "db/FbApi.h"

namespace patrimonio {

using namespace Firebird;

namespace {

// The size of the answers the stream is asked for. One answer carries at most 64 KB (its
// length is two bytes), but answers that large made the stream about three times slower than
// 8 KB ones on a 100 MB database (bench/db/backup_bench).
constexpr unsigned kAnswerBytes = 8192;

struct Disposed {
    IXpbBuilder* b;
    ~Disposed() { b->dispose(); }
};

}  // namespace

ServerDatabase ServerDatabase::of(const QString& databaseString) {
    // "host/port:path" or "host:path"; a drive letter ("C:") or a leading slash is a bare path.
    const qsizetype colon = databaseString.indexOf(u':');
    const bool bare = colon < 0 || (colon == 1 && databaseString.at(0).isLetter()) ||
                      databaseString.startsWith(u'/') || databaseString.startsWith(u'\\') ||
                      databaseString.startsWith(u'.');
    if (bare) return {QString(), databaseString};
    return {databaseString.left(colon), databaseString.mid(colon + 1)};
}

namespace {

// The server is on this machine (or is the engine inside this program): a file it writes by a
// path is the file this program sees by that path.
bool serverOnThisMachine(const ServerDatabase& target) {
    if (target.server.isEmpty()) return true;
    const QString host = target.server.section(u'/', 0, 0).toLower();
    return host == QStringLiteral("127.0.0.1") || host == QStringLiteral("localhost") ||
           host == QStringLiteral("::1");
}

fb::Ref<IService> attachServiceManager(fb::Status& st, const ServerDatabase& target,
                                       const QString& user, const QString& password) {
    const QString manager =
        target.server.isEmpty() ? QStringLiteral("service_mgr") : target.server + ":service_mgr";
    IXpbBuilder* attach = fb::util()->getXpbBuilder(&st, IXpbBuilder::SPB_ATTACH, nullptr, 0);
    const Disposed disposeAttach{attach};
    attach->insertString(&st, isc_spb_user_name, user.toUtf8().constData());
    attach->insertString(&st, isc_spb_password, password.toUtf8().constData());
    if (target.server.isEmpty()) attach->insertString(&st, isc_spb_config, "Providers=Engine12");
    fb::Ref<IProvider> provider(fb::master()->getDispatcher());
    return fb::Ref<IService>(provider->attachServiceManager(
        &st, manager.toUtf8().constData(), attach->getBufferLength(&st), attach->getBuffer(&st)));
}

void startBackup(fb::Status& st, IService& service, const ServerDatabase& target,
                 const QByteArray& into) {
    IXpbBuilder* start = fb::util()->getXpbBuilder(&st, IXpbBuilder::SPB_START, nullptr, 0);
    const Disposed disposeStart{start};
    start->insertTag(&st, isc_action_svc_backup);
    start->insertString(&st, isc_spb_dbname, target.database.toUtf8().constData());
    start->insertString(&st, isc_spb_bkp_file, into.constData());
    service.start(&st, start->getBufferLength(&st), start->getBuffer(&st));
}

// After the last of the backup: it is whole only if the server says it finished without an
// error (an error it met raises here).
void waitUntilFinished(fb::Status& st, IService& service, std::vector<unsigned char>& answer) {
    const unsigned char running[] = {isc_info_svc_running};
    for (int attempt = 0;; ++attempt) {
        service.query(&st, 0, nullptr, sizeof running, running,
                      static_cast<unsigned>(answer.size()), answer.data());
        if (answer[0] != isc_info_svc_running) break;
        if (isc_portable_integer(answer.data() + 1, 4) == 0) break;
        if (attempt == 600) throw AppError(QStringLiteral("o servidor não terminou a cópia"));
        QThread::msleep(100);
    }
}

// The server writes the backup itself into the writer's temporary file: by far the fastest way
// (no stream through the wire protocol), possible when the server is on this machine and may
// write into the folder. False when it could not; the caller then has the backup streamed.
bool backupWrittenByTheServer(const ServerDatabase& target, const QString& user,
                              const QString& password, WholeFileWriter& writer) {
    if (!serverOnThisMachine(target)) return false;
    fb::Status st;
    fb::Ref<IService> service;
    std::vector<unsigned char> answer(kAnswerBytes);
    try {
        fb::guarded([&] {
            service = attachServiceManager(st, target, user, password);
            startBackup(st, *service.get(), target, QFile::encodeName(writer.temporaryName()));
            // Without verbose output the server says nothing until the backup has ended.
            const unsigned char line[] = {isc_info_svc_line};
            for (;;) {
                service->query(&st, 0, nullptr, sizeof line, line,
                               static_cast<unsigned>(answer.size()), answer.data());
                if (answer[0] != isc_info_svc_line) break;
                if ((answer[1] | (answer[2] << 8)) == 0) break;
            }
            waitUntilFinished(st, *service.get(), answer);
            service->detach(&st);
            service.release();
        });
    } catch (const std::exception&) {
        // A folder the server's user may not write, a full disk, a server that sees another
        // file system: the stream is tried next, on a fresh temporary file.
        return false;
    }
    return writer.adoptWrittenByOther().ok();
}

void streamBackup(const ServerDatabase& target, const QString& user, const QString& password,
                  WholeFileWriter& writer, const std::function<void(qint64)>& progress) {
    fb::Status st;
    fb::Ref<IService> service;
    bool more = true;
    std::vector<unsigned char> answer(kAnswerBytes);
    fb::guarded([&] {
        service = attachServiceManager(st, target, user, password);
        // "stdout": the server hands the backup to us instead of writing a file of its own.
        startBackup(st, *service.get(), target, QByteArrayLiteral("stdout"));

        const unsigned char receive[] = {isc_info_svc_to_eof};
        while (more) {
            service->query(&st, 0, nullptr, sizeof receive, receive,
                           static_cast<unsigned>(answer.size()), answer.data());
            more = false;
            const unsigned char* p = answer.data();
            const unsigned char* end = p + answer.size();
            while (p < end && *p != isc_info_end) {
                const unsigned char item = *p++;
                if (item == isc_info_truncated || item == isc_info_data_not_ready) {
                    // More is coming; nothing after this mark belongs to this answer.
                    more = true;
                    break;
                }
                if (item != isc_info_svc_to_eof || end - p < 2) {
                    throw AppError(
                        QStringLiteral("o servidor respondeu algo inesperado (%1)").arg(item));
                }
                const qint64 length = p[0] | (p[1] << 8);
                p += 2;
                if (length > end - p) throw AppError(QStringLiteral("resposta cortada"));
                if (length > 0) {
                    const char* bytes = reinterpret_cast<const char*>(p);
                    if (const FileWrite w = writer.append(bytes, length); !w.ok()) {
                        throw AppError(
                            QStringLiteral("o arquivo não pôde ser gravado (%1)").arg(w.detail));
                    }
                    if (progress) progress(writer.written());
                    // Asked again until an answer brings nothing: the end of the stream.
                    more = true;
                }
                p += length;
            }
        }
        waitUntilFinished(st, *service.get(), answer);
        service->detach(&st);
        service.release();
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
