#pragma once
// What an import run did, table by table, for the lines it leaves in the log view at the end.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace patrimonio {

struct TableTally {
    QString table;
    int read = 0;     // rows read from the source
    int written = 0;  // rows the target accepted
    int refused = 0;  // rows the target refused (each listed in the log as it happened)
    int held = -1;    // rows the target holds at the end of the run; -1 when not counted
    std::int64_t elapsedMs = -1;  // the step's duration; -1 when it was not timed
};

class ImportReport;

// Times the step that copies a table, from its first pause to its last write-back, into the
// table's tally; also when the step stops or fails once its tally exists.
class StepClock {
public:
    StepClock(ImportReport& report, QString table);
    ~StepClock();
    StepClock(const StepClock&) = delete;
    StepClock& operator=(const StepClock&) = delete;

private:
    ImportReport& report_;
    QString table_;
    std::int64_t startMs_;
};

// The photos of the asset step.
struct PhotoTally {
    int assets = 0;        // assets handled
    int recompressed = 0;  // photos recompressed and stored
    int kept = 0;          // photos that could not be recompressed, stored as they were
    int lost = 0;          // photos the target has no column for (each listed in the log)
    int none = 0;          // assets without a stored photo
    std::int64_t bytesBefore = 0;
    std::int64_t bytesAfter = 0;
    bool any() const { return assets > 0; }
};

class ImportReport {
public:
    // The tally of a table, created on first use; lines keep the order of first use.
    TableTally& table(const QString& name);
    // The tally of a table, when it has one.
    TableTally* find(const QString& name);
    const std::vector<TableTally>& tables() const { return tables_; }
    std::vector<TableTally>& tables() { return tables_; }

    // Locations written with a null organ/unit because the pair was not found in the target.
    int untranslatedLocations = 0;
    PhotoTally photos;

    // Durations of the run's own work, -1 when it did not happen: the copy of the target, the
    // purge, and the whole run from its start to its report.
    std::int64_t copyMs = -1;
    std::int64_t purgeMs = -1;
    std::int64_t totalMs = -1;

    // Lines of the run's self-check: a copied table whose rows in the target the rows read
    // and refused do not explain, or that could not be counted.
    QStringList warnings;

    int refusedRows() const;

    // One line per copied table (with the rows the target holds, once counted, and the step's
    // duration and rows per second), the photo line when the asset step ran, the line of the
    // locations left without an organ/unit, the durations of the run, and the warnings.
    QStringList lines() const;

private:
    std::vector<TableTally> tables_;
};

}  // namespace patrimonio
