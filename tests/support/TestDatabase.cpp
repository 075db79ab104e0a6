#include "TestDatabase.h"

#include <firebird/Interface.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <memory>
#include <stdexcept>
#include <vector>

#ifdef __linux__
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace patrimonio::test {

namespace {

using namespace Firebird;

class CheckStatus {
public:
    CheckStatus() : status_(master()->getStatus()), wrapper_(status_) {}
    ~CheckStatus() { status_->dispose(); }
    ThrowStatusWrapper* operator&() { return &wrapper_; }
    static IMaster* master() { return fb_get_master_interface(); }

private:
    IStatus* status_;
    ThrowStatusWrapper wrapper_;
};

std::string errorText(const FbException& e) {
    char buf[2048];
    fb_get_master_interface()->getUtilInterface()->formatStatus(buf, sizeof buf, e.getStatus());
    return buf;
}

#ifdef __linux__
// The user of the process listening on 127.0.0.1:3052 (the kernel's socket table of this
// network namespace), or -1 when none is found.
long serverUid() {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly)) return -1;
    table.readLine();
    while (!table.atEnd()) {
        const QList<QByteArray> f = table.readLine().simplified().split(' ');
        // local_address 127.0.0.1:3052 in the kernel's hex, state 0A (listening); uid is field 7.
        if (f.size() > 7 && f[1] == "0100007F:0BEC" && f[3] == "0A") return f[7].toLong();
    }
    return -1;
}

bool callerInGroup(gid_t gid) {
    if (getegid() == gid) return true;
    const int n = getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    const int got = getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<size_t>(i)] == gid) return true;
    return false;
}

// The group a folder is handed to when the server runs as another user, or -1.
long serverGroup() {
    if (geteuid() == 0) return -1;
    const long uid = serverUid();
    if (uid < 0 || static_cast<uid_t>(uid) == geteuid()) return -1;
    const passwd* pw = getpwuid(static_cast<uid_t>(uid));
    if (!pw || !callerInGroup(pw->pw_gid)) return -1;
    return static_cast<long>(pw->pw_gid);
}

void shareWithServer(const QString& folder) {
    if (folder.isEmpty()) return;
    const long gid = serverGroup();
    if (gid < 0) return;
    const QByteArray path = QFile::encodeName(folder);
    if (chown(path.constData(), static_cast<uid_t>(-1), static_cast<gid_t>(gid)) == 0)
        chmod(path.constData(), 02770);
}
#else
void shareWithServer(const QString&) {}
#endif

}  // namespace

void runIsql(const QByteArray& script, const QString& database) {
    QTemporaryFile file;
    if (!file.open()) throw std::runtime_error("cannot write isql script");
    file.write(script);
    file.flush();
    QStringList args{QStringLiteral("-q"),        QStringLiteral("-b"),
                     QStringLiteral("-user"),     QStringLiteral("SYSDBA"),
                     QStringLiteral("-password"), kPassword,
                     QStringLiteral("-i"),        file.fileName()};
    if (!database.isEmpty()) args << kServerPrefix + database;
    QProcess isql;
    isql.setProcessChannelMode(QProcess::MergedChannels);
    isql.start(QStringLiteral("isql-fb"), args);
    if (!isql.waitForFinished(120000)) throw std::runtime_error("isql-fb did not finish");
    const QByteArray out = isql.readAll();
    if (isql.exitCode() != 0 || out.contains("Statement failed") || out.contains("SQLSTATE")) {
        throw std::runtime_error("isql-fb failed: " + out.toStdString());
    }
}

QString createDatabase(const QString& path, const QByteArray& ddl) {
    QFile::remove(path);
    QByteArray script = "create database '" + (kServerPrefix + path).toUtf8() +
                        "' user 'SYSDBA' password '" + kPassword.toUtf8() +
                        "' page_size 8192 default character set NONE;\ncommit;\n";
    runIsql(script);
    if (!ddl.isEmpty()) runIsql("set autoddl on;\n" + ddl + "\ncommit;\n", path);
    return path;
}

QByteArray fixtureFile(const char* name) {
    QFile file(QStringLiteral(IMPORTADOR_SOURCE_DIR "/tests/fixtures/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error(std::string("missing ") + name);
    return file.readAll();
}

QStringList queryRows(const QString& path, const QString& sql) {
    IMaster* master = CheckStatus::master();
    CheckStatus st;
    IProvider* prov = master->getDispatcher();
    IUtil* util = master->getUtilInterface();
    IXpbBuilder* dpb = util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&st, isc_dpb_password, kPassword.toUtf8().constData());
    dpb->insertInt(&st, isc_dpb_utf8_filename, 1);
    QStringList rows;
    IAttachment* att = nullptr;
    ITransaction* tra = nullptr;
    IResultSet* rs = nullptr;
    try {
        const QByteArray db = (kServerPrefix + path).toUtf8();
        att = prov->attachDatabase(&st, db.constData(), dpb->getBufferLength(&st),
                                   dpb->getBuffer(&st));
        tra = att->startTransaction(&st, 0, nullptr);
        const QByteArray text = sql.toLatin1();
        IStatement* stmt =
            att->prepare(&st, tra, 0, text.constData(), 3, IStatement::PREPARE_PREFETCH_METADATA);
        IMessageMetadata* meta = stmt->getOutputMetadata(&st);
        const unsigned n = meta->getCount(&st);
        // Let the server convert every column to text.
        IMetadataBuilder* builder = meta->getBuilder(&st);
        for (unsigned i = 0; i < n; ++i) {
            builder->setType(&st, i, SQL_VARYING + 1);
            builder->setLength(&st, i, 8000);
            builder->setCharSet(&st, i, 0);
            builder->setScale(&st, i, 0);
        }
        IMessageMetadata* out = builder->getMetadata(&st);
        builder->release();
        std::vector<unsigned char> buffer(out->getMessageLength(&st));
        rs = stmt->openCursor(&st, tra, nullptr, nullptr, out, 0);
        while (rs->fetchNext(&st, buffer.data()) == IStatus::RESULT_OK) {
            QStringList cols;
            for (unsigned i = 0; i < n; ++i) {
                const short nullFlag =
                    *reinterpret_cast<short*>(&buffer[out->getNullOffset(&st, i)]);
                if (nullFlag) {
                    cols << QStringLiteral("<null>");
                    continue;
                }
                const unsigned char* p = &buffer[out->getOffset(&st, i)];
                const unsigned short len = *reinterpret_cast<const unsigned short*>(p);
                cols << QString::fromLatin1(reinterpret_cast<const char*>(p + 2), len);
            }
            rows << cols.join(u'|');
        }
        rs->close(&st);
        rs = nullptr;
        out->release();
        meta->release();
        stmt->free(&st);
        tra->commit(&st);
        tra = nullptr;
        att->detach(&st);
        att = nullptr;
    } catch (const FbException& e) {
        const std::string msg = errorText(e);
        if (rs) rs->release();
        if (tra) tra->release();
        if (att) att->release();
        dpb->dispose();
        throw std::runtime_error("query failed: " + msg);
    }
    dpb->dispose();
    return rows;
}

TempFolder::TempFolder() {
    dir_.setAutoRemove(true);
    shareWithServer(dir_.path());
}

QString TempFolder::path(const QString& name) const {
    return name.isEmpty() ? dir_.path() : dir_.filePath(name);
}

QString TempFolder::folder(const QString& name) const {
    QString made = dir_.path();
    for (const QString& part : name.split(u'/', Qt::SkipEmptyParts)) {
        made += u'/' + part;
        if (QDir().mkdir(made)) shareWithServer(made);
    }
    return made;
}

QStringList databaseContents(const QString& path) {
    QStringList contents;
    const QStringList tables =
        queryRows(path, QStringLiteral("SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS WHERE "
                                       "RDB$SYSTEM_FLAG = 0 AND RDB$VIEW_BLR IS NULL ORDER BY 1"));
    for (const QString& table : tables) {
        // Blob columns (type 261) by length and hash; the rest as the server writes them.
        const QStringList columns = queryRows(
            path, QStringLiteral("SELECT TRIM(rf.RDB$FIELD_NAME), f.RDB$FIELD_TYPE FROM "
                                 "RDB$RELATION_FIELDS rf JOIN RDB$FIELDS f ON f.RDB$FIELD_NAME = "
                                 "rf.RDB$FIELD_SOURCE WHERE rf.RDB$RELATION_NAME = '%1' ORDER BY "
                                 "rf.RDB$FIELD_POSITION")
                      .arg(table));
        QStringList select;
        for (const QString& column : columns) {
            const QString name = column.section(u'|', 0, 0);
            const bool blob = column.section(u'|', 1, 1).trimmed() == QStringLiteral("261");
            select << (blob
                           ? QStringLiteral("OCTET_LENGTH(\"%1\") || ':' || HASH(\"%1\")").arg(name)
                           : QStringLiteral("\"%1\"").arg(name));
        }
        contents << QStringLiteral("== ") + table;
        contents << queryRows(path, QStringLiteral("SELECT %1 FROM \"%2\" ORDER BY 1")
                                        .arg(select.join(QStringLiteral(", ")), table));
    }
    return contents;
}

void restoreBackup(const QString& backup, const QString& restored) {
    QProcess gbak;
    gbak.setProcessChannelMode(QProcess::MergedChannels);
    gbak.start(QStringLiteral("gbak"),
               {QStringLiteral("-c"), QStringLiteral("-user"), QStringLiteral("SYSDBA"),
                QStringLiteral("-password"), kPassword, backup, kServerPrefix + restored});
    if (!gbak.waitForFinished(600000) || gbak.exitCode() != 0)
        throw std::runtime_error("gbak -c failed: " + gbak.readAll().toStdString());
}

}  // namespace patrimonio::test
