#pragma once
// The write-back every import step uses. A row the target refuses does not hold back the
// others: it is listed in the log view with its key and the server's message, dropped from
// the pending changes, and the rest is written again.

#include <QString>
#include <functional>

#include "core/RunHost.h"
#include "db/RecordSet.h"
#include "runs/ImportReport.h"

namespace patrimonio {

// Writes back every pending change of target; returns how many rows were refused. Adds the
// accepted and refused rows to tally. Raises when the write-back as a whole fails. A caller that
// keeps facts of its own per pending row (in the order the rows were posted) is told the index
// of every row dropped, at the moment it is dropped; the rows left reached the target.
int writeBack(RecordSet& target, RunReport& host, TableTally& tally,
              const std::function<void(int changeIndex)>& dropped = {});

// One try at writing back: the changes pending before it and what ApplyUpdates(0) returned.
struct WriteBackTry {
    int pending = 0;
    int refused = 0;
};

// writeBack whose first try was already made (on another thread, say): `first` is what it
// gave, and the tries after a refused row are made here as writeBack makes them.
int writeBackAfter(const WriteBackTry& first, RecordSet& target, RunReport& host, TableTally& tally,
                   const std::function<void(int changeIndex)>& dropped = {});

// The first try of a write-back, on whatever thread the record set is left to.
WriteBackTry tryWriteBack(RecordSet& target);

// The log line of a refused row.
QString refusedRowLine(const QString& table, const QString& key, const QString& message);

}  // namespace patrimonio
