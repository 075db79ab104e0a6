#pragma once
// The write-back every import step uses. A row the target refuses does not hold back the
// others: it is listed in the log view with its key and the server's message, dropped from
// the pending changes, and the rest is written again.

#include <QString>

#include "core/RunHost.h"
#include "db/RecordSet.h"
#include "runs/ImportReport.h"

namespace patrimonio {

// Writes back every pending change of target; returns how many rows were refused. Adds the
// accepted and refused rows to tally. Raises when the write-back as a whole fails.
int writeBack(RecordSet& target, RunReport& host, TableTally& tally);

// The log line of a refused row.
QString refusedRowLine(const QString& table, const QString& key, const QString& message);

}  // namespace patrimonio
