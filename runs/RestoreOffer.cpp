#include "runs/RestoreOffer.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>

#include "core/Amounts.h"
#include "core/AppPaths.h"
#include "core/Errors.h"
#include "db/DatabaseRestore.h"

namespace patrimonio {

const QString kRestoreStatus = QStringLiteral("Restaurando o banco a ser atualizado.");

namespace {

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString sizeOrUnknown(qint64 bytes) {
    return bytes < 0 ? QStringLiteral("tamanho desconhecido") : sizeText(bytes);
}

}  // namespace

QString restoreQuestion(const WayBack& wayBack) {
    return QStringLiteral(
               "A importação não foi até o fim e o banco a ser atualizado ficou incompleto.\n"
               "Voltar o banco a ser atualizado ao que era antes desta importação, restaurando a "
               "cópia feita no início (%1, %2)?\n"
               "Antes disso o banco como está agora também será guardado na pasta Bancos_Antes.")
        .arg(native(wayBack.copy.path), sizeText(wayBack.copy.bytes));
}

std::optional<bool> offerRestore(DataModule& data, RunHost& host, const WayBack& wayBack) {
    if (!host.askYesNo(restoreQuestion(wayBack))) return std::nullopt;

    host.setStatus(kRestoreStatus);
    host.pumpMessages();
    Connection& con = data.Con_Velho;
    // The connection knows its database even when the server was lost under it.
    const QString database = con.databaseString();
    const QString user = con.openedParameter(QStringLiteral("USER_NAME"));
    const QString password = con.openedParameter(QStringLiteral("PASSWORD"));
    const QStringList params = con.Params;
    const QString byHand =
        QStringLiteral("para restaurar à mão num arquivo novo: %1").arg(wayBack.command);

    // The target as it is now, beside the first copy: the half-done state is kept too.
    std::optional<BackupFile> now;
    try {
        const QString folder = databaseCopiesFolder();
        if (!ensureFolder(folder)) {
            throw AppError(QStringLiteral("a pasta %1 não pôde ser criada").arg(native(folder)));
        }
        now = backupDatabase(database, user, password,
                             folder + backupFileName(database, QDateTime::currentDateTime()));
        host.appendLogLine(
            QStringLiteral("Cópia do banco a ser atualizado como ficou, salva antes da "
                           "restauração: %1 (%2).")
                .arg(native(now->path), sizeText(now->bytes)));
    } catch (const AppError& e) {
        host.appendLogLine(
            QStringLiteral("O banco a ser atualizado não foi restaurado e continua como está: "
                           "não foi possível salvar antes uma cópia dele como está agora (%1). A "
                           "cópia feita antes da importação continua em %2; %3")
                .arg(e.message(), native(wayBack.copy.path), byHand));
        return con.Connected();
    }

    // Nothing of ours may stay on the database while the server puts it back.
    data.CdsAtualiza.Close();
    con.Close();
    try {
        const Restore done = restoreDatabase(database, user, password, wayBack.copy, wayBack.rows);
        host.appendLogLine(
            QStringLiteral("Banco a ser atualizado restaurado como estava antes da importação: "
                           "%1 (%2 antes da restauração, %3 agora), a partir da cópia %4 (%5), "
                           "%6.")
                .arg(native(done.file), sizeOrUnknown(done.bytesBefore),
                     sizeOrUnknown(done.bytesAfter), native(wayBack.copy.path),
                     sizeText(wayBack.copy.bytes), restoreRouteText(done)));
        if (done.differences.isEmpty()) {
            host.appendLogLine(QStringLiteral("Conferido: as %1 tabelas têm as mesmas linhas que "
                                              "tinham quando a cópia foi feita.")
                                   .arg(done.tables));
        } else {
            host.appendLogLine(
                QStringLiteral("Atenção: o banco restaurado não confere com a cópia (%1). A cópia "
                               "continua em %2; %3")
                    .arg(done.differences.join(QStringLiteral("; ")), native(wayBack.copy.path),
                         byHand));
        }
    } catch (const RestoreError& e) {
        if (e.targetLost()) {
            host.appendLogLine(
                QStringLiteral("A restauração parou no meio e o banco a ser atualizado não pode "
                               "ser usado: %1. Restaure à mão, num arquivo novo, uma das duas "
                               "cópias: %2 (como estava antes da importação) ou %3 (como estava "
                               "antes da restauração); %4")
                    .arg(e.message(), native(wayBack.copy.path), native(now->path), byHand));
        } else {
            host.appendLogLine(
                QStringLiteral("O banco a ser atualizado não foi restaurado e continua como "
                               "estava: %1. A cópia feita antes da importação continua em %2; %3")
                    .arg(e.message(), native(wayBack.copy.path), byHand));
        }
    }
    // Back to the very database it was on, with the list it was opened with.
    con.Params = params;
    con.Params.replaceInStrings(QRegularExpression(QStringLiteral("^DATABASE=.*$"),
                                                   QRegularExpression::CaseInsensitiveOption),
                                QStringLiteral("DATABASE=") + database);
    try {
        con.Open();
    } catch (const AppError& e) {
        host.appendLogLine(
            QStringLiteral("O banco a ser atualizado não pôde ser aberto de novo: %1")
                .arg(e.message()));
    }
    return con.Connected();
}

}  // namespace patrimonio
