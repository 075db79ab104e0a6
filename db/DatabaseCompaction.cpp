#include "db/DatabaseCompaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QThread>
#include <QUuid>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

#include "core/Errors.h"
#include "core/UserAccount.h"
#include "core/WholeFile.h"
#include "db/ConnectionImpl.h"
#include "db/DatabaseBackup.h"
#include "db/RecordSet.h"

namespace patrimonio {

using namespace Firebird;

namespace {

namespace fs = std::filesystem;

fs::path fsPath(const QString& path) {
    return fs::path(path.toStdU16String());
}

QString systemReason(const std::error_code& error) {
    return QString::fromLocal8Bit(error.message().c_str());
}

struct Disposed {
    IXpbBuilder* b;
    ~Disposed() { b->dispose(); }
};

// A connection of our own, for the checks; closed when dropped.
class CheckConnection {
public:
    CheckConnection(const QString& databaseString, const QString& user, const QString& password)
        : connection_(QStringLiteral("Compactacao")) {
        connection_.Params = {QStringLiteral("DATABASE=") + databaseString,
                              QStringLiteral("SQLDialect=3"), QStringLiteral("USER_NAME=") + user,
                              QStringLiteral("PASSWORD=") + password};
        connection_.Open();
    }
    ~CheckConnection() { connection_.Close(); }
    CheckConnection(const CheckConnection&) = delete;
    CheckConnection& operator=(const CheckConnection&) = delete;

    QStringList rows(const QString& sql) {
        RecordSet rs(connection_);
        rs.setCommandText(sql);
        rs.Open();
        QStringList values;
        for (; !rs.Eof(); rs.Next()) values << rs.Fields(0).AsString().trimmed();
        return values;
    }
    QString value(const QString& sql) {
        const QStringList values = rows(sql);
        return values.isEmpty() ? QString() : values.constFirst();
    }

    // Attachments to the database besides this one; the engine's own (garbage collector,
    // cache writer) do not count.
    int otherAttachments() {
        return value(QStringLiteral("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE "
                                    "MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND "
                                    "MON$SYSTEM_FLAG = 0"))
            .toInt();
    }

    // Every user table (views and external tables hold no rows of their own) with its rows.
    QMap<QString, qint64> rowCounts() {
        QMap<QString, qint64> counts;
        const QStringList tables = rows(QStringLiteral(
            "SELECT RDB$RELATION_NAME FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
            "AND RDB$VIEW_BLR IS NULL AND RDB$EXTERNAL_FILE IS NULL ORDER BY 1"));
        for (const QString& table : tables) {
            QString quoted = table;
            quoted.replace(u'"', QStringLiteral("\"\""));
            counts.insert(
                table,
                value(QStringLiteral("SELECT COUNT(*) FROM \"%1\"").arg(quoted)).toLongLong());
        }
        return counts;
    }

    // The file as the engine opened it (an alias or a link resolved). The name comes as the
    // bytes of the engine's file system, not as text of the database.
    QString fileName() {
        RecordSet rs(connection_);
        rs.setCommandText(QStringLiteral("SELECT MON$DATABASE_NAME FROM MON$DATABASE"));
        rs.Open();
        return rs.Eof() ? QString() : QFile::decodeName(rs.Fields(0).AsVariant().bytes().trimmed());
    }

private:
    Connection connection_;
};

// Runs one service action to its end and returns the lines it wrote. An error the server met
// raises DatabaseError.
QStringList runService(const ServerDatabase& target, const QString& user, const QString& password,
                       const std::function<void(IXpbBuilder*, ThrowStatusWrapper*)>& action) {
    const QString manager =
        target.server.isEmpty() ? QStringLiteral("service_mgr") : target.server + ":service_mgr";
    QStringList lines;
    fb::Status st;
    fb::Ref<IService> service;
    fb::guarded([&] {
        IXpbBuilder* attach = fb::util()->getXpbBuilder(&st, IXpbBuilder::SPB_ATTACH, nullptr, 0);
        const Disposed disposeAttach{attach};
        attach->insertString(&st, isc_spb_user_name, user.toUtf8().constData());
        attach->insertString(&st, isc_spb_password, password.toUtf8().constData());
        // A bare path is this process's own file: the engine in this process does the work.
        if (target.server.isEmpty())
            attach->insertString(&st, isc_spb_config, "Providers=Engine12");
        fb::Ref<IProvider> provider(fb::master()->getDispatcher());
        service.reset(provider->attachServiceManager(&st, manager.toUtf8().constData(),
                                                     attach->getBufferLength(&st),
                                                     attach->getBuffer(&st)));
        IXpbBuilder* start = fb::util()->getXpbBuilder(&st, IXpbBuilder::SPB_START, nullptr, 0);
        const Disposed disposeStart{start};
        action(start, &st);
        service->start(&st, start->getBufferLength(&st), start->getBuffer(&st));

        // Line by line until the service has nothing more to say.
        std::vector<unsigned char> answer(16384);
        const unsigned char receive[] = {isc_info_svc_line};
        for (bool more = true; more;) {
            service->query(&st, 0, nullptr, sizeof receive, receive,
                           static_cast<unsigned>(answer.size()), answer.data());
            more = false;
            const unsigned char* p = answer.data();
            if (*p == isc_info_svc_line) {
                const int length = isc_portable_integer(p + 1, 2);
                if (length > 0) {
                    lines << QString::fromUtf8(reinterpret_cast<const char*>(p + 3), length);
                    more = true;
                }
            }
        }
        // Ended only when the server says so; an error it met raises here.
        const unsigned char running[] = {isc_info_svc_running};
        for (;;) {
            service->query(&st, 0, nullptr, sizeof running, running,
                           static_cast<unsigned>(answer.size()), answer.data());
            if (answer[0] != isc_info_svc_running) break;
            if (isc_portable_integer(answer.data() + 1, 4) == 0) break;
            QThread::msleep(50);
        }
        service->detach(&st);
        service.release();
    });
    return lines;
}

// Removes a file made on the way; one that is not there is fine.
void removeQuietly(const QString& path) {
    std::error_code ignored;
    fs::remove(fsPath(path), ignored);
}

// Byte for byte.
bool sameBytes(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly)) return false;
    if (fa.size() != fb.size()) return false;
    constexpr qint64 kChunk = 1 << 20;
    while (!fa.atEnd()) {
        const QByteArray x = fa.read(kChunk);
        if (x.isEmpty() || x != fb.read(kChunk)) return false;
    }
    return true;
}

// Keeps the old file whole under the first free numbered name of `wanted`: a second name for
// the same file where the file system allows one (instant, and the file stays in its place
// until the new one replaces it), else a copy written whole and compared byte for byte.
QString keepWhole(const QString& file, const QString& wanted) {
    for (int n = 1; n < 1000; ++n) {
        const QString candidate = numberedFileName(wanted, n);
        if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink()) continue;
        std::error_code error;
        fs::create_hard_link(fsPath(file), fsPath(candidate), error);
        if (!error) return candidate;
        if (error == std::errc::file_exists) continue;
        break;  // another file system, or one without links: a copy then
    }
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        throw AppError(QStringLiteral("o arquivo %1 não pôde ser lido para guardar uma cópia (%2)")
                           .arg(file, in.errorString()));
    }
    WholeFileWriter writer(wanted);
    FileWrite step = writer.open();
    constexpr qint64 kChunk = 1 << 20;
    while (step.ok() && !in.atEnd()) {
        const QByteArray chunk = in.read(kChunk);
        if (chunk.isEmpty()) {
            step = {FileWrite::Failure::Write, in.errorString(), in.errorString()};
            break;
        }
        step = writer.append(chunk.constData(), chunk.size());
    }
    if (step.ok()) step = writer.commitUnderFreeName();
    if (!step.ok()) {
        throw AppError(QStringLiteral("o arquivo atual não pôde ser guardado em %1 (%2)")
                           .arg(wanted, step.detail));
    }
    if (!sameBytes(file, writer.path())) {
        removeQuietly(writer.path());
        throw AppError(QStringLiteral("a cópia do arquivo atual em %1 não confere com ele")
                           .arg(writer.path()));
    }
    return writer.path();
}

bool onThisComputer(const QString& server) {
    const QString host = server.section(u'/', 0, 0).toLower();
    return host == QStringLiteral("127.0.0.1") || host == QStringLiteral("localhost") ||
           host == QStringLiteral("::1");
}

}  // namespace

CompactionEstimate estimateCompaction(Connection& connection) {
    connection.Open();
    qint64 pageSize = 0, pages = 0;
    {
        RecordSet rs(connection);
        rs.setCommandText(QStringLiteral("SELECT MON$PAGE_SIZE, MON$PAGES FROM MON$DATABASE"));
        rs.Open();
        pageSize = rs.Fields(0).AsString().toLongLong();
        pages = rs.Fields(1).AsString().toLongLong();
    }
    qint64 used = pages;
    Connection::Impl& impl = connection.impl();
    impl.guarded([&] {
        fb::Status st;
        const unsigned char items[] = {fb_info_pages_used, isc_info_end};
        unsigned char answer[64] = {};
        impl.att()->getInfo(&st, sizeof items, items, sizeof answer, answer);
        if (answer[0] == fb_info_pages_used) {
            const int length = isc_portable_integer(answer + 1, 2);
            used = isc_portable_integer(answer + 3, static_cast<short>(length));
        }
    });
    return {pages * pageSize, std::min(used, pages) * pageSize};
}

QString keptDatabaseName(const QString& file, const QDateTime& when) {
    const QFileInfo info(file);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    return info.completeBaseName() + u'_' + when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) +
           suffix;
}

Compaction compactDatabase(const QString& databaseString, const QString& user,
                           const QString& password, const QString& copiesFolder,
                           const QDateTime& when) {
    const ServerDatabase target = ServerDatabase::of(databaseString);
    if (!target.server.isEmpty() && !onThisComputer(target.server)) {
        throw AppError(QStringLiteral("o banco está no servidor %1, e este programa só compacta "
                                      "um arquivo que está neste computador")
                           .arg(target.server));
    }
    const QString prefix = target.server.isEmpty() ? QString() : target.server + u':';

    // What the old file holds, with no one else on it.
    QString file;
    QMap<QString, qint64> before;
    {
        CheckConnection old(databaseString, user, password);
        if (const int others = old.otherAttachments(); others > 0) {
            throw AppError(QStringLiteral("outro programa está conectado ao banco (%1 conexão(ões) "
                                          "além desta); feche-o e tente de novo")
                               .arg(others));
        }
        file = old.fileName();
        // A bare path is the file this process opened itself.
        if (!QFileInfo(file).isFile() && target.server.isEmpty())
            file = QFileInfo(target.database).absoluteFilePath();
        if (!QFileInfo(file).isFile()) {
            throw AppError(
                QStringLiteral("o arquivo %1 não está ao alcance deste programa").arg(file));
        }
        before = old.rowCounts();
    }
    const QFileInfo info(file);
    const qint64 bytesBefore = info.size();
    const QString stem = info.absolutePath() + u'/' + info.completeBaseName() +
                         QStringLiteral(".compactando-") +
                         QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString backup = stem + QStringLiteral(".fbk");
    const QString restored =
        stem + u'.' + (info.suffix().isEmpty() ? QStringLiteral("fdb") : info.suffix());
    // Whatever happens from here on, the backup goes, and so does the new file unless it has
    // taken the old one's place.
    bool swapped = false;
    const struct Cleanup {
        const QString& backup;
        const QString& restored;
        const bool& swapped;
        ~Cleanup() {
            removeQuietly(backup);
            if (!swapped) removeQuietly(restored);
        }
    } cleanup{backup, restored, swapped};

    const auto step = [](const QString& what, const std::function<void()>& f) {
        try {
            f();
        } catch (const DatabaseError& e) {
            throw AppError(QStringLiteral("%1: %2").arg(what, e.message().simplified()));
        }
    };
    // The backup and the restore are both made by the engine that holds the database (the
    // server, or this process's own for a bare path): the files never travel through the
    // client, and the new file belongs to whoever owns the database's engine.
    step(QStringLiteral("a cópia de segurança do banco falhou"), [&] {
        runService(target, user, password, [&](IXpbBuilder* spb, ThrowStatusWrapper* st) {
            spb->insertTag(st, isc_action_svc_backup);
            spb->insertString(st, isc_spb_dbname, target.database.toUtf8().constData());
            spb->insertString(st, isc_spb_bkp_file, backup.toUtf8().constData());
            // The old file is set aside whole anyway: cleaning its old row versions on the way
            // would only cost time (measured: about 40 % of the backup on the 415 MB file).
            spb->insertInt(st, isc_spb_options, isc_spb_bkp_no_garbage_collect);
        });
    });
    QStringList restoreLines;
    step(QStringLiteral("a restauração num arquivo novo falhou"), [&] {
        restoreLines =
            runService(target, user, password, [&](IXpbBuilder* spb, ThrowStatusWrapper* st) {
                spb->insertTag(st, isc_action_svc_restore);
                spb->insertString(st, isc_spb_bkp_file, backup.toUtf8().constData());
                spb->insertString(st, isc_spb_dbname, restored.toUtf8().constData());
                // A new file only: never one that exists.
                spb->insertInt(st, isc_spb_options, isc_spb_res_create);
                spb->insertTag(st, isc_spb_verbose);
            });
    });
    // The restore's own word that it went to its end: its last stage, after every row and
    // index, sets the flags of the new file (gbak run by hand says "finishing" after it).
    const auto finished = [](const QString& line) {
        return line.contains(QStringLiteral("adjusting the ONLINE and FORCED WRITES flags")) ||
               line.contains(QStringLiteral("finishing, closing, and going home"));
    };
    if (restoreLines.isEmpty() || !finished(restoreLines.constLast())) {
        throw AppError(QStringLiteral("o servidor não informou que a restauração terminou (%1)")
                           .arg(restoreLines.isEmpty() ? QString() : restoreLines.constLast()));
    }
    removeQuietly(backup);

    step(QStringLiteral("o arquivo novo não pôde ser conferido"), [&] {
        CheckConnection restoredDb(prefix + restored, user, password);
        const QMap<QString, qint64> after = restoredDb.rowCounts();
        if (after != before) {
            QStringList differ;
            for (auto it = before.begin(); it != before.end(); ++it) {
                if (after.value(it.key(), -1) != it.value()) {
                    differ << QStringLiteral("%1: %2 antes, %3 depois")
                                  .arg(it.key())
                                  .arg(it.value())
                                  .arg(after.value(it.key(), -1));
                }
            }
            if (differ.isEmpty()) differ << QStringLiteral("tabelas diferentes");
            throw AppError(QStringLiteral("o arquivo novo não tem as mesmas linhas (%1)")
                               .arg(differ.join(QStringLiteral("; "))));
        }
    });
    // The new file opens for whoever may open the old one: the same group first (a server
    // running as its own user often reaches the file through it), then the same permissions.
    if (QString why; !giveGroupOf(file, restored, &why)) {
        throw AppError(QStringLiteral("o arquivo novo não pôde receber o grupo do antigo (%1), e "
                                      "o servidor Firebird poderia não conseguir abri-lo")
                           .arg(why));
    }
    {
        std::error_code ignored;
        fs::permissions(fsPath(restored), fs::status(fsPath(file)).permissions(),
                        fs::perm_options::replace, ignored);
    }

    // Nobody came meanwhile: right before the swap, once more.
    step(QStringLiteral("o banco não pôde ser conferido antes da troca"), [&] {
        CheckConnection old(databaseString, user, password);
        if (const int others = old.otherAttachments(); others > 0) {
            throw AppError(QStringLiteral("outro programa conectou-se ao banco durante a "
                                          "compactação (%1 conexão(ões)); o banco não foi trocado")
                               .arg(others));
        }
    });

    if (!QDir().mkpath(copiesFolder)) {
        throw AppError(QStringLiteral("a pasta %1 não pôde ser criada").arg(copiesFolder));
    }
    const QString kept = keepWhole(file, copiesFolder + keptDatabaseName(file, when));
    std::error_code error;
    fs::rename(fsPath(restored), fsPath(file), error);
    if (error) {
        // The old file is still in its place: the second name of it is not needed.
        removeQuietly(kept);
        throw AppError(QStringLiteral("o arquivo novo não pôde tomar o lugar do antigo (%1)")
                           .arg(systemReason(error)));
    }
    swapped = true;
    return {file, kept, bytesBefore, QFileInfo(file).size()};
}

}  // namespace patrimonio
