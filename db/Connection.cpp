#include "db/Connection.h"

#include "core/Text.h"
#include "db/ConnectionImpl.h"

namespace patrimonio {

using namespace Firebird;

namespace {

// The value of the first NAME=value line whose name matches, ignoring case.
QString param(const QStringList& params, const QString& name, const QString& fallback = {}) {
    for (const QString& line : params) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0) continue;
        if (line.left(eq).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return fallback;
}

// A database string without a "host:" or "host/port:" in front names a file that this process
// opens itself through the embedded engine. A drive letter ("C:") is part of a path.
bool isBarePath(const QString& database) {
    const qsizetype colon = database.indexOf(u':');
    if (colon < 0) return true;
    if (colon == 1 && database.at(0).isLetter()) return true;
    const QString head = database.left(colon);
    return head.startsWith(u'/') || head.startsWith(u'\\') || head.startsWith(u'.');
}

// The engine of this process cannot open a file that a server holds: the lock of the file is
// refused with an I/O error naming the "lock" operation.
bool heldByAServer(const DatabaseError& e) {
    return e.gdsCode() == isc_io_error && e.message().contains(QStringLiteral("\"lock\""));
}

DatabaseError heldByAServerError(const QString& database, const DatabaseError& e) {
    return DatabaseError(
        QStringLiteral("O banco \"%1\" está em uso por um servidor Firebird. O tratamento das "
                       "imagens abre o arquivo diretamente e só consegue quando nenhum programa "
                       "está conectado a ele pelo servidor: feche essas conexões e tente de "
                       "novo.\n%2")
            .arg(database, e.message()),
        e.sqlState(), e.gdsCode());
}

void attach(Connection::Impl& impl, const QString& database, const QByteArray& user,
            const QByteArray& password, unsigned dialect) {
    fb::Status st;
    fb::guarded([&] {
        IXpbBuilder* dpb = fb::util()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
        struct Dispose {
            IXpbBuilder* b;
            ~Dispose() { b->dispose(); }
        } disposeDpb{dpb};
        dpb->insertInt(&st, isc_dpb_utf8_filename, 1);
        if (!user.isEmpty()) dpb->insertString(&st, isc_dpb_user_name, user.constData());
        if (!password.isEmpty()) dpb->insertString(&st, isc_dpb_password, password.constData());
        dpb->insertInt(&st, isc_dpb_sql_dialect, static_cast<int>(dialect ? dialect : 3));
        // A bare path must reach the file itself; never let the client fall back to a server.
        if (isBarePath(database)) dpb->insertString(&st, isc_dpb_config, "Providers=Engine12");
        fb::Ref<IProvider> provider(fb::master()->getDispatcher());
        const QByteArray path = database.toUtf8();
        impl.attachment.reset(provider->attachDatabase(
            &st, path.constData(), dpb->getBufferLength(&st), dpb->getBuffer(&st)));
    });
}

}  // namespace

void Connection::Impl::detach() {
    if (!attachment) return;
    IStatus* st = fb::master()->getStatus();
    CheckStatusWrapper w(st);
    attachment->detach(&w);
    if (w.getState() & IStatus::STATE_ERRORS) {
        attachment.reset();
    } else {
        attachment.release();
    }
    st->dispose();
}

Connection::Connection(const QString& name) : name_(name), impl_(std::make_unique<Impl>()) {
    Params = initialParams();
}

Connection::~Connection() {
    impl_->detach();
}

QStringList Connection::initialParams() {
    return {QStringLiteral("DriverName=Firebird"),
            QStringLiteral("Database=database.fdb"),
            QStringLiteral("RoleName=RoleName"),
            QStringLiteral("User_Name=sysdba"),
            QStringLiteral("Password=quillfern"),
            QStringLiteral("ServerCharSet="),
            QStringLiteral("SQLDialect=3"),
            QStringLiteral("ErrorResourceFile="),
            QStringLiteral("LocaleCode=0000"),
            QStringLiteral("BlobSize=-1"),
            QStringLiteral("CommitRetain=False"),
            QStringLiteral("WaitOnLocks=True"),
            QStringLiteral("IsolationLevel=ReadCommitted"),
            QStringLiteral("Trim Char=False")};
}

QStringList Connection::editParams(const QString& database) {
    return {QStringLiteral("DATABASE=") + database, QStringLiteral("SQLDialect=3"),
            QStringLiteral("USER_NAME=SYSDBA"),     QStringLiteral("PASSWORD=quillfern"),
            QStringLiteral("COMMITRETAIN=False"),   QStringLiteral("RoleName=RoleName")};
}

bool Connection::Connected() const {
    return impl_->attachment && !impl_->lost;
}

QString Connection::databaseString() const {
    return impl_->database;
}

void Connection::Open() {
    if (Connected()) return;
    // After a loss the connection goes back to its own database, never to whatever path the
    // list names by now.
    const QStringList params = impl_->lost ? openedWith_ : Params;
    if (impl_->lost) {
        // What the lost attachment left behind is released before connecting anew.
        impl_->detach();
        impl_->lost = false;
    }
    const QString database = param(params, QStringLiteral("DATABASE"));
    const QByteArray user = param(params, QStringLiteral("USER_NAME")).toUtf8();
    const QByteArray password = param(params, QStringLiteral("PASSWORD")).toUtf8();
    const unsigned dialect =
        param(params, QStringLiteral("SQLDialect"), QStringLiteral("3")).trimmed().toUInt();
    // The role is left out: the lists name the placeholder "RoleName", and SYSDBA needs no role.
    // No lc_ctype either: the connection character set stays NONE and text travels as bytes.
    try {
        attach(*impl_, database, user, password, dialect);
    } catch (const DatabaseError& e) {
        if (isBarePath(database) && heldByAServer(e)) throw heldByAServerError(database, e);
        throw;
    }
    static std::uint64_t attachments = 0;
    impl_->attachmentNumber = ++attachments;
    impl_->database = database;
    impl_->dialect = dialect ? dialect : 3;
    impl_->forgetSchema();
    openedWith_ = params;
}

void Connection::Close() {
    impl_->detach();
    impl_->lost = false;
    impl_->database.clear();
    impl_->forgetSchema();
    openedWith_.clear();
}

void Connection::checkAlive() {
    if (!Connected()) return;
    try {
        impl_->guarded([&] {
            fb::Status st;
            impl_->att()->ping(&st);
        });
    } catch (const DatabaseError&) {
        // A lost attachment is marked by now; any other trouble shows at the next real use.
    }
}

int Connection::ExecuteDirect(const QString& sql) {
    Open();
    const QByteArray text = toWin1252(sql);
    fb::Status st;
    return impl_->guarded([&] {
        fb::Transaction tra = impl_->begin(false);
        fb::Statement stmt(impl_->att(), tra.get(), text, impl_->dialect);
        stmt->execute(&st, tra.get(), nullptr, nullptr, nullptr, nullptr);
        const ISC_UINT64 affected = stmt->getAffectedRecords(&st);
        stmt.free(&st);
        tra.commit();
        return static_cast<int>(affected);
    });
}

QString Connection::openedParameter(const QString& name) const {
    return param(openedWith_, name);
}

long long Connection::transactionsStarted() const {
    return impl_->transactionsStarted;
}

}  // namespace patrimonio
