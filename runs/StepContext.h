#pragma once
// What an import step works with, handed to it by the run: the source it reads (and looks up
// in), the target it writes into, the report it adds to, the window's side of the run, and the
// stop point. The run fills it once, from the connections and record sets the window owns.

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "core/Errors.h"
#include "core/RunCounters.h"
#include "core/RunHost.h"
#include "db/DataModule.h"
#include "runs/ImportReport.h"

namespace patrimonio {

struct StepContext {
    StepContext(DataModule& data, ImportReport& report, RunHost& host);

    Connection& source;  // the database the rows come from
    Connection& target;  // the database they go into
    RecordSet& reader;   // the rows a step reads from the source
    RecordSet& lookups;  // what a step looks up in the source beside its rows
    RecordSet& writer;   // the rows a step adds to the target
    ImportReport& report;
    RunHost& host;

    // A query on the target read whole into a record set of its own; none when it failed, with
    // the database's error in `failure`.
    std::unique_ptr<RecordSet> targetQuery(const QString& sql,
                                           std::optional<DatabaseError>* failure) const;

    // A stop point: raises RunStopped, saying where, when the operator asked to stop.
    void stopPoint(const QString& where) const;
    // The stop point after a whole write-back into the table.
    void stopPointAfterWriteBack(const TableTally& tally) const;

private:
    DataModule& data_;
};

struct PlainCopy;

// The import's steps and chores, each on its context; ImportRun calls them in their order under
// their historical names (ImportRun.h says which file holds which).
void copyPlainTable(StepContext& step, const PlainCopy& copy);
void addReserveRows(StepContext& step);
void copyLocations(StepContext& step);
// The assets, their photos recompressed at the quality typed (read once, before the step) on
// `photoWorkers` threads; its pages counted in the run's counters.
void copyAssets(StepContext& step, const QString& photoQuality, int photoWorkers,
                RunCounters& counters);
// The tables the purge empties, in its order.
QStringList purgedTables();
// Empties the target's tables, children before parents; `purgeBegun` is set once a DELETE went
// through.
void purgeTarget(StepContext& step, bool& purgeBegun);
// Counts the rows each copied table of the target holds and warns in the report of a count that
// the rows read and refused do not explain.
void checkTargetRows(StepContext& step);

}  // namespace patrimonio
