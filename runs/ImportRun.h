#pragma once
// Import mode: the purge of the target, then the ten copy steps in their fixed order.
//
// Where each step lives: the steps keep their historical names; each file is named by what it
// holds.
//   SetTrataExclusoes               Purge.cpp (the purge, twelve tables)
//   SetImport_Responsaveis          PlainCopySteps.cpp (with the table of the seven
//   SetImport_TipoBEM                 plain copies)
//   SetImport_SubLocalizacoao
//   SetImport_Depreciacao_Controle
//   SetImport_Depreciacao
//   SetImport_PatReavaliacao
//   SetImport_PatBaixas
//   SetImport_Gorgaounidade         ReserveRowsStep.cpp (the two reserve rows)
//   SetImport_Localizacao           LocationStep.cpp (organ/unit keys translated)
//   SetImport_Bens                  AssetStep.cpp (pages of 100, photos via PhotoCarrier)
//   run, SetIniciaImportacao        ImportRun.cpp (with the stop points)
//   checkBeforePurge                ImportCheck.cpp (both databases checked before any DELETE)
//   saveTargetCopy                  TargetCopy.cpp (the target saved whole before the purge)
//   checkTarget                     TargetCheck.cpp (the rows each copied table ends with)
// Each step works on its StepContext (what it reads, writes, reports and where it may stop).
// Shared by the steps: RowCopy (a row copied column by column), WriteBack (refused rows),
// ImportReport (the report's lines).

#include <QDateTime>
#include <QElapsedTimer>
#include <optional>

#include "core/RunCounters.h"
#include "core/RunHost.h"
#include "db/DataModule.h"
#include "db/DatabaseBackup.h"
#include "photos/RecompressionPool.h"
#include "runs/ImportReport.h"
#include "runs/RestoreOffer.h"
#include "runs/StepContext.h"

namespace patrimonio {

// How a run ended, when it did not raise.
enum class ImportEnd {
    Completed,  // every step done: the window shows the completion message
    Stopped,    // stopped at the operator's request; the log view says where
};

class ImportRun {
public:
    // The asset step recompresses its photos on `photoWorkers` threads (0: one at a time on
    // the run's thread).
    ImportRun(DataModule& data, RunCounters& counters, RunHost& host,
              int photoWorkers = RecompressionPool::coreCount())
        : counters_(counters),
          host_(host),
          photoWorkers_(photoWorkers),
          steps_(data, report_, host) {}

    // The whole import-mode run: the quality read once, the check of both databases, purge,
    // steps and the report in the log view. Raises on an error that ends the run (the report
    // of what was done is still logged). The window then enables BtnLOG when reportLogged()
    // and, when the run completed, shows
    // completionMessage(report().refusedRows(), report().warnings).
    ImportEnd run();

    // Both connections open on their databases, two different databases, and every table and
    // view the run reads or writes there with the columns the steps need. Raises AppError
    // naming everything that is missing, in one message, before the purge has touched
    // anything.
    void checkBeforePurge();

    // Saves the whole target as it stands into the folder of database copies, with the
    // server's own backup, and says in the log view where it is and how to restore it. Raises
    // AppError with the reason when the copy cannot be made whole: nothing is purged then.
    void saveTargetCopy();
    // The copy of the last run, when it made one.
    const std::optional<BackupFile>& targetCopy() const { return copy_; }
    // The way back to the target as it was before the last run: only once its purge has
    // deleted something (before that the target is as it was).
    std::optional<WayBack> wayBack() const;

    void SetTrataExclusoes();
    void SetIniciaImportacao();

    // The copy steps, in the order SetIniciaImportacao calls them.
    void SetImport_Responsaveis();
    void SetImport_Gorgaounidade();
    void SetImport_TipoBEM();
    void SetImport_Localizacao();
    void SetImport_SubLocalizacoao();
    void SetImport_Bens();
    void SetImport_Depreciacao_Controle();
    void SetImport_Depreciacao();
    void SetImport_PatReavaliacao();
    void SetImport_PatBaixas();

    const ImportReport& report() const { return report_; }
    // True when the last run left report lines in the log view.
    bool reportLogged() const { return reportLogged_; }

    // The completion message for a run with this many refused rows and these self-check
    // warnings.
    static QString completionMessage(int refusedRows, const QStringList& warnings = {});

    // The run checks itself: counts the rows each copied table of the target now holds and warns
    // of a count that the rows read and refused do not explain.
    void checkTarget();

private:
    // The report's lines, then for a run that did not complete the way back, then `closing`
    // when given (where a stopped run stopped).
    enum class Ending { Completed, Stopped, Failed };
    void logReport(Ending ending, const QString& closing = {});
    // Where the copy of the target is, and the command that restores it.
    void logTargetCopy();
    // The quality typed in "% Compressão", read once per run (or per step called alone).
    const QString& quality();

    RunCounters& counters_;
    RunHost& host_;
    int photoWorkers_;
    ImportReport report_;
    QElapsedTimer runClock_;  // the whole run, for the report's total
    bool reportLogged_ = false;
    std::optional<QString> quality_;
    std::optional<BackupFile> copy_;
    QString restore_;
    QMap<QString, qint64> rowsAtCopy_;  // every table of the target when the copy was made
    bool purgeBegun_ = false;           // a DELETE of the purge went through
    StepContext steps_;                 // what each step works with
};

// The status text while the target is saved.
extern const QString kTargetCopyStatus;

}  // namespace patrimonio
