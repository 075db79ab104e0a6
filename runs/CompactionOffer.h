#pragma once
// After a photo-only pass that ran to its end: the photos are smaller, but the database file is
// not (its freed pages stay inside it). The operator is asked whether to compact the file, with
// its size now and the size it will have; "Sim" compacts it, with Con_Novo let go during the
// work and connected again afterwards, and the log view says what came of it.

#include <QString>

#include "core/RunHost.h"
#include "db/DataModule.h"

namespace patrimonio {

extern const QString kCompactionStatus;

// The question, with the file's size now and the size it will have (none when it could not be
// told: 0); it speaks of smaller photos only after a pass that made them smaller.
QString compactionQuestion(qint64 bytesNow, qint64 bytesAfter, bool photosSmaller = true);

// Asks, and compacts on "Sim". Whatever happens, Con_Novo is on its database again at the end
// (raises only when that reconnect fails); a compaction that could not be done leaves the file
// as it was and says why in the log view.
void offerCompaction(DataModule& data, RunHost& host, bool photosSmaller = true);

}  // namespace patrimonio
