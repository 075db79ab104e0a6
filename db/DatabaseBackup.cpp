#include "db/DatabaseBackup.h"

#include <QFileInfo>
#include <QThread>
#include <cstring>
#include <vector>

#include "core/Errors.h"
#include "core/WholeFile.h"
#include "db/FbApi.h"

namespace patrimonio {

using namespace Firebird;

namespace {

// One service answer carries at most 64 KB (its length is two bytes).
constexpr unsigned kAnswerBytes = 65535;

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

BackupFile backupDatabase(const QString& databaseString, const QString& user,
                          const QString& password, const QString& file,
                          const std::function<void(qint64)>& progress) {
    const ServerDatabase target = ServerDatabase::of(databaseString);
    const QString manager =
        target.server.isEmpty() ? QStringLiteral("service_mgr") : target.server + ":service_mgr";

    // The file first: a folder that cannot take it stops everything before the server works.
    WholeFileWriter writer(file);
    if (const FileWrite opened = writer.open(); !opened.ok()) {
        throw AppError(QStringLiteral("a pasta não aceita o arquivo (%1)").arg(opened.detail));
    }

    fb::Status st;
    fb::Ref<IService> service;
    bool more = true;
    std::vector<unsigned char> answer(kAnswerBytes);
    fb::guarded([&] {
        IXpbBuilder* attach = fb::util()->getXpbBuilder(&st, IXpbBuilder::SPB_ATTACH, nullptr, 0);
        const Disposed disposeAttach{attach};
        attach->insertString(&st, isc_spb_user_name, user.toUtf8().constData());
        attach->insertString(&st, isc_spb_password, password.toUtf8().constData());
        if (target.server.isEmpty())
            attach->insertString(&st, isc_spb_config, "Providers=Engine12");
        fb::Ref<IProvider> provider(fb::master()->getDispatcher());
        service.reset(provider->attachServiceManager(&st, manager.toUtf8().constData(),
                                                     attach->getBufferLength(&st),
                                                     attach->getBuffer(&st)));

        IXpbBuilder* start = fb::util()->getXpbBuilder(&st, IXpbBuilder::SPB_START, nullptr, 0);
        const Disposed disposeStart{start};
        start->insertTag(&st, isc_action_svc_backup);
        start->insertString(&st, isc_spb_dbname, target.database.toUtf8().constData());
        // "stdout": the server hands the backup to us instead of writing a file of its own.
        start->insertString(&st, isc_spb_bkp_file, "stdout");
        service->start(&st, start->getBufferLength(&st), start->getBuffer(&st));

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
        // The stream has ended; the backup is whole only if the server says it finished
        // without an error (an error it met raises here).
        const unsigned char running[] = {isc_info_svc_running};
        for (int attempt = 0;; ++attempt) {
            service->query(&st, 0, nullptr, sizeof running, running,
                           static_cast<unsigned>(answer.size()), answer.data());
            if (answer[0] != isc_info_svc_running) break;
            if (isc_portable_integer(answer.data() + 1, 4) == 0) break;
            if (attempt == 600) throw AppError(QStringLiteral("o servidor não terminou a cópia"));
            QThread::msleep(100);
        }
        service->detach(&st);
        service.release();
    });
    if (writer.written() == 0) {
        throw AppError(QStringLiteral("o servidor não enviou nada da cópia"));
    }
    // A name that exists is never replaced: the copy takes the next free numbered name.
    const FileWrite committed = writer.commitUnderFreeName();
    if (!committed.ok()) {
        throw AppError(QStringLiteral("o arquivo não pôde ser gravado (%1)").arg(committed.detail));
    }
    return {writer.path(), QFileInfo(writer.path()).size()};
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
