// The copy of the target an import saves before its purge: the way back for an operator who
// chose the wrong pair, or whose run stopped half-way.

#include <QDateTime>

#include "core/Amounts.h"
#include "core/AppPaths.h"
#include "core/Errors.h"
#include "db/DatabaseBackup.h"
#include "db/DatabaseCheck.h"
#include "runs/ImportRun.h"

namespace patrimonio {

const QString kTargetCopyStatus = QStringLiteral("Salvando uma cópia do banco a ser atualizado.");

void ImportRun::saveTargetCopy() {
    host_.setStatus(kTargetCopyStatus);
    host_.pumpMessages();
    Connection& target = steps_.target;
    const QString database = target.databaseString();
    const QString folder = databaseCopiesFolder();
    const auto refuse = [](const QString& reason) {
        return AppError(
            QStringLiteral("A importação não foi iniciada e o banco a ser atualizado não foi "
                           "alterado: não foi possível salvar uma cópia dele antes da exclusão "
                           "(%1).")
                .arg(reason));
    };
    if (!ensureFolder(folder)) {
        throw refuse(QStringLiteral("a pasta %1 não pôde ser criada").arg(folder));
    }
    try {
        copy_ = backupDatabase(database, target.openedParameter(QStringLiteral("USER_NAME")),
                               target.openedParameter(QStringLiteral("PASSWORD")),
                               folder + backupFileName(database, QDateTime::currentDateTime()));
        // What the restore is checked against: every table's rows as the copy holds them.
        rowsAtCopy_ = tableRowCounts(target);
    } catch (const AppError& e) {
        throw refuse(e.message());
    }
    restore_ = restoreCommand(*copy_, database, target.openedParameter(QStringLiteral("USER_NAME")),
                              target.openedParameter(QStringLiteral("PASSWORD")));
    logTargetCopy();
}

void ImportRun::logTargetCopy() {
    if (!copy_) return;
    host_.appendLogLine(
        QStringLiteral("Cópia do banco a ser atualizado, salva antes da exclusão: %1 (%2).")
            .arg(copy_->path, sizeText(copy_->bytes)));
    host_.appendLogLine(QStringLiteral("Para voltar ao banco como estava, restaure a cópia num "
                                       "arquivo novo: %1")
                            .arg(restore_));
}

}  // namespace patrimonio
