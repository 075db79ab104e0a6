#include "db/DatabaseCompaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
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
#include "db/DatabaseCheck.h"
#include "db/FbApi.h"
#include "db/RecordSet.h"
#include "db/ServiceManager.h"

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
    // The old versions of rows a change left behind (the photos a pass replaced, with every
    // page of theirs) count as pages in use until the engine collects them, which it does in
    // its own time: a sweep collects them now, so that the pages in use are those of the
    // database as it stands, which is what a restore writes again.
    const ServerDatabase target = ServerDatabase::of(connection.databaseString());
    bool swept = true;
    try {
        ServiceManager(target, connection.openedParameter(QStringLiteral("USER_NAME")),
                       connection.openedParameter(QStringLiteral("PASSWORD")))
            .run(ServiceRequest(isc_action_svc_repair)
                     .text(isc_spb_dbname, target.database.toUtf8())
                     .number(isc_spb_options, isc_spb_rpr_sweep_db));
    } catch (const DatabaseError&) {
        // Without it the pages in use may be many times what a restore writes: no number.
        swept = false;
    }
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
    return {pages * pageSize, swept ? std::min(used, pages) * pageSize : 0};
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
        DatabaseCheck old(databaseString, user, password);
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
    // What an earlier compaction of this file left when it was killed half-way: its own names
    // only, beside this database.
    QStringList leftovers;
    {
        const QString suffix = info.suffix().isEmpty() ? QStringLiteral("fdb") : info.suffix();
        const QRegularExpression own(QStringLiteral("^%1\\.compactando-[0-9a-f]{8}\\.(fbk|%2)$")
                                         .arg(QRegularExpression::escape(info.completeBaseName()),
                                              QRegularExpression::escape(suffix)));
        for (const QFileInfo& left :
             info.absoluteDir().entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
            if (!own.match(left.fileName()).hasMatch()) continue;
            std::error_code error;
            if (fs::remove(fsPath(left.absoluteFilePath()), error)) {
                leftovers << left.absoluteFilePath();
            }
        }
    }
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
        ServiceManager(target, user, password)
            .run(ServiceRequest(isc_action_svc_backup)
                     .text(isc_spb_dbname, target.database.toUtf8())
                     .text(isc_spb_bkp_file, QFile::encodeName(backup))
                     // The old file is set aside whole anyway: cleaning its old row versions on
                     // the way would only cost time (measured: about 40 % of the backup on the
                     // 415 MB file).
                     .number(isc_spb_options, isc_spb_bkp_no_garbage_collect));
    });
    QStringList restoreLines;
    step(QStringLiteral("a restauração num arquivo novo falhou"), [&] {
        restoreLines = ServiceManager(target, user, password)
                           .run(ServiceRequest(isc_action_svc_restore)
                                    .text(isc_spb_bkp_file, QFile::encodeName(backup))
                                    .text(isc_spb_dbname, QFile::encodeName(restored))
                                    // A new file only: never one that exists.
                                    .number(isc_spb_options, isc_spb_res_create)
                                    .flag(isc_spb_verbose));
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
        DatabaseCheck restoredDb(prefix + restored, user, password);
        const QStringList differ = rowCountDifferences(
            before, restoredDb.rowCounts(), QStringLiteral("antes"), QStringLiteral("depois"));
        if (!differ.isEmpty()) {
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
        DatabaseCheck old(databaseString, user, password);
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
    return {file, kept, bytesBefore, QFileInfo(file).size(), leftovers};
}

}  // namespace patrimonio
