#include "db/ConnectFailure.h"

#include <firebird/Interface.h>

#include <QStringList>
#include <cerrno>
#include <cstring>

#include "core/UserAccount.h"

namespace patrimonio {

namespace {

using Kind = ConnectFailure::Kind;

// Where a database string leads: to a server at host and port ("127.0.0.1/3052:path",
// "host:path"), or to the file itself through this program's engine (a bare path; "C:" is a
// drive letter, not a host).
struct Route {
    bool server = false;
    QString host;
    QString port;
};

Route routeOf(const QString& database) {
    const qsizetype colon = database.indexOf(u':');
    if (colon < 0 || (colon == 1 && database.at(0).isLetter())) return {};
    const QString head = database.left(colon);
    if (head.startsWith(u'/') || head.startsWith(u'\\') || head.startsWith(u'.')) return {};
    const qsizetype slash = head.indexOf(u'/');
    if (slash < 0) return {true, head.trimmed(), QStringLiteral("3050")};
    return {true, head.left(slash).trimmed(), head.mid(slash + 1).trimmed()};
}

// The client names the failed file operation: I/O error during "open" operation for file ...
bool ioOperation(const QString& message, const char* operation) {
    return message.contains(
        QStringLiteral("I/O error during \"%1\" operation").arg(QString::fromLatin1(operation)));
}

// The system's reason for an I/O error comes as the system words it: in English, or in the
// language of this process (the engine of a bare path formats it here, with the operator's
// locale), or in Windows' words on Windows.
bool saysSystemError(const QString& message, int errorNumber, const QStringList& alsoSaid = {}) {
    QStringList texts = alsoSaid;
    texts << QString::fromLocal8Bit(std::strerror(errorNumber));
    for (const QString& text : texts) {
        if (!text.isEmpty() && message.contains(text, Qt::CaseInsensitive)) return true;
    }
    return false;
}

bool saysNoSuchFile(const QString& message) {
    return saysSystemError(message, ENOENT,
                           {QStringLiteral("No such file or directory"),
                            QStringLiteral("The system cannot find the file specified"),
                            QStringLiteral("The system cannot find the path specified")});
}

bool saysPermissionDenied(const QString& message) {
    return saysSystemError(
        message, EACCES, {QStringLiteral("Permission denied"), QStringLiteral("Access is denied")});
}

// The folder the engine names last in its "operating system directive" error.
QString lockFolderNamed(const QString& message) {
    const QStringList lines = message.split(u'\n', Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        QString line = it->trimmed();
        if (line.startsWith(u'-')) line.remove(0, 1);
        if (line.startsWith(u'/') || (line.size() > 2 && line.at(1) == u':')) return line;
    }
    return {};
}

bool saysIsAFolder(const QString& message) {
    return saysSystemError(message, EISDIR, {QStringLiteral("Is a directory")});
}

// The server's own text. A bare path refused because a server holds the file comes with a
// sentence of ours in front (db/Connection.cpp); the client's text starts at its I/O error.
QString serverText(const QString& message) {
    const qsizetype at = message.indexOf(QStringLiteral("\nI/O error during"));
    return at < 0 ? message : message.mid(at + 1);
}

ConnectFailure failure(Kind kind, const QString& reason, const QString& message) {
    return ConnectFailure{kind, reason, serverText(message)};
}

}  // namespace

QString ConnectFailure::text() const {
    return reason + u'\n' + serverMessage;
}

ConnectFailure explainConnectFailure(const DatabaseError& error, const QString& database) {
    const QString& message = error.message();
    const Route route = routeOf(database);
    switch (error.gdsCode()) {
        case isc_login:
            return failure(Kind::WrongLogin,
                           QStringLiteral("Usuário ou senha recusados pelo servidor."), message);
        case isc_network_error:
            if (!route.server) break;
            return failure(Kind::ServerNotRunning,
                           QStringLiteral("O servidor Firebird não responde em %1, porta %2: "
                                          "ele está em execução?")
                               .arg(route.host, route.port),
                           message);
        case isc_wrong_ods:
            return failure(Kind::OtherVersion,
                           QStringLiteral("O banco foi criado por outra versão do Firebird e não "
                                          "pode ser aberto aqui."),
                           message);
        case isc_shutdown:
            return failure(Kind::ShutDown,
                           QStringLiteral("O banco está desligado para manutenção (shutdown): "
                                          "ponha-o em linha de novo com o gfix."),
                           message);
        case isc_bad_db_format:
            return failure(Kind::NotADatabase,
                           QStringLiteral("O arquivo não é um banco de dados Firebird."), message);
        case isc_sys_request:
            // "operating system directive access failed / Permission denied / /tmp/firebird/":
            // the engines of one machine share a lock folder, which Debian gives to the group
            // of its Firebird service.
            if (!route.server && saysPermissionDenied(message)) {
                const QString folder = lockFolderNamed(message);
                return failure(
                    Kind::LockFolderRefused,
                    QStringLiteral("Este usuário não pode usar a pasta de travas do Firebird "
                                   "(%1), necessária para abrir o arquivo diretamente. Um "
                                   "administrador resolve com: sudo adduser %2 firebird (vale "
                                   "a partir do próximo login).")
                        .arg(folder.isEmpty() ? QStringLiteral("/tmp/firebird") : folder,
                             currentUserName()),
                    message);
            }
            break;
        case isc_no_priv:
            if (message.contains(QStringLiteral("read-write access to database"))) {
                return failure(Kind::ReadOnly,
                               route.server
                                   ? QStringLiteral("O servidor Firebird pode ler o arquivo, mas "
                                                    "não gravar nele: o usuário com que o "
                                                    "servidor roda precisa de permissão de "
                                                    "gravação no arquivo.")
                                   : QStringLiteral("Este usuário pode ler o arquivo, mas não "
                                                    "gravar nele: peça permissão de gravação "
                                                    "no arquivo."),
                               message);
            }
            break;
        case isc_io_error:
            if (ioOperation(message, "open") && saysPermissionDenied(message)) {
                return failure(Kind::NoPermission,
                               route.server
                                   ? QStringLiteral("O servidor Firebird não tem permissão para "
                                                    "abrir o arquivo: o usuário com que ele roda "
                                                    "precisa ler e gravar o arquivo e entrar na "
                                                    "pasta dele.")
                                   : QStringLiteral("Este usuário não tem permissão para abrir "
                                                    "o arquivo ou a pasta dele."),
                               message);
            }
            if (ioOperation(message, "lock")) {
                // Whoever holds the file shut the other route out: the server keeps a bare path
                // out, and a program that opened it directly keeps the server out.
                return route.server
                           ? failure(Kind::InUseDirectly,
                                     QStringLiteral("O banco está em uso por outro programa, que "
                                                    "abriu o arquivo diretamente."),
                                     message)
                           : failure(Kind::InUseThroughServer,
                                     QStringLiteral("O banco está em uso por outro programa, "
                                                    "conectado pelo servidor Firebird."),
                                     message);
            }
            if (saysIsAFolder(message)) {
                return failure(Kind::IsAFolder,
                               QStringLiteral("O caminho é uma pasta, não um arquivo de banco."),
                               message);
            }
            if (ioOperation(message, "open") && saysNoSuchFile(message)) {
                return failure(Kind::FileNotFound, QStringLiteral("Arquivo não encontrado."),
                               message);
            }
            if (ioOperation(message, "read")) {
                // The file opened but its first page could not be read: shorter than a
                // database page, so no database.
                return failure(Kind::NotADatabase,
                               QStringLiteral("O arquivo não é um banco de dados Firebird, ou "
                                              "está incompleto."),
                               message);
            }
            break;
        default:
            break;
    }
    return failure(Kind::Other, QStringLiteral("Não foi possível conectar ao banco."), message);
}

}  // namespace patrimonio
