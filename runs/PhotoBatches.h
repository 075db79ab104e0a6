#pragma once
// The query of the photo-only pass, the check of the codes to skip, and the batches of a pass.

#include <QString>
#include <optional>

#include "db/RowCursor.h"

namespace patrimonio {

class RecordSet;

constexpr int kPhotoBatchSize = 50;

// True when the text is empty or blank, or a comma-separated list of whole numbers with blanks
// allowed around each of them (" 9, 30 "). The text goes into the SQL as typed, so nothing else
// may pass: no empty item, no letters, no quotes, no other separators.
bool isValidSkipList(const QString& skipList);

// "WHERE BEM_CODIGO NOT IN (<text as typed>)", or empty when the text is blank.
// The text must have passed isValidSkipList.
QString skipFilter(const QString& skipList);

// The rows of a pass in BEM_CODIGO order, read once from start to end.
QString passQuery(const QString& skipList);

// The batches of one pass. One cursor in code order, kept open in a snapshot for the whole pass,
// gives each batch the next rows: every batch costs the same, and a row that another program
// changes meanwhile is met exactly once. The codes to skip are read once, when the pass starts.
class PhotoBatches {
public:
    // Loads the next batch (at most 50 rows) into the record set, which is closed first. The
    // first call opens the cursor with the pass's codes to skip.
    void loadNext(RecordSet& batch, const QString& skipList);

private:
    std::optional<RowCursor> cursor_;
};

}  // namespace patrimonio
