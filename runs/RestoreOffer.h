#pragma once
// After an import that stopped or failed once its purge had begun: the target is half
// emptied, half filled. The operator is asked whether to put it back as it was before the
// import, from the copy made at its start; "Sim" first saves the target as it is now beside
// that copy, then has the server restore the copy over it, with Con_Velho let go during the
// work and connected again afterwards; the log view says what came of it.

#include <QMap>
#include <QString>
#include <optional>

#include "core/RunHost.h"
#include "db/DataModule.h"
#include "db/DatabaseBackup.h"

namespace patrimonio {

extern const QString kRestoreStatus;

// What an import leaves for the way back: the copy of the target made before its purge, every
// table's rows at that moment, and the command that restores the copy by hand.
struct WayBack {
    BackupFile copy;
    QMap<QString, qint64> rows;
    QString command;
};

// The question.
QString restoreQuestion(const WayBack& wayBack);

// Asks, and restores on "Sim". Returns whether the operator said "Sim" and then whether
// Con_Velho is on the target again (unset: not asked or "Não"). Raises nothing: whatever
// happens is said in the log view, and the copies stay where they are.
std::optional<bool> offerRestore(DataModule& data, RunHost& host, const WayBack& wayBack);

}  // namespace patrimonio
