#pragma once
// What a run will do, counted at its start: the rows each step will copy or walk, and the
// photos with their bytes, taken from the photos' lengths and never from the photos
// themselves. One statement, one round trip; on a large register it costs a walk of each
// table's own pages, not a read of the photos: OCTET_LENGTH of a BLOB comes from the BLOB's
// header, which the server keeps on the table's pages, while the pages of a large photo are
// not touched (measured by the pages the server fetches and reads; a photo small enough to
// share its header's page is read with it).

#include <QString>
#include <cstdint>
#include <vector>

#include "core/RunProgress.h"

namespace patrimonio {

class Connection;

struct TableRows {
    QString table;
    std::int64_t rows = 0;
};

// An import: the nine tables the steps copy from the source, in step order, and the stored
// photos of PAT_BEM (rows whose photo has at least one byte).
struct ImportPlan {
    std::vector<TableRows> tables;
    std::int64_t photos = 0;
    std::int64_t photoBytes = 0;

    std::int64_t rows() const;
    // The rows of one table; 0 for a table the steps do not copy.
    std::int64_t rowsOf(const QString& table) const;
    // The work for the whole run's progress: the rows, the photo bytes, and the one-second
    // pauses: one per table emptied by the purge, one at the start of each copy step that
    // has one, and one per page of assets (a last, empty page too when the assets fill their
    // pages exactly).
    RunWork work() const;
};

// The tables an import copies, in the order of its steps.
const std::vector<QString>& copiedTables();

// Counts on the source. Call it once both databases have passed the check before the purge:
// a missing table or photo column raises DatabaseError.
ImportPlan planImport(Connection& source);

// A photo-only pass: the rows it walks (the codes to skip left out, as its query leaves
// them), and among them the rows with a stored photo.
struct PhotoPassPlan {
    std::int64_t rows = 0;
    std::int64_t photos = 0;
    std::int64_t photoBytes = 0;

    // The rows, the photo bytes, and one pause per batch of 50 rows (a last, short or empty
    // batch too).
    RunWork work() const;
};

// Counts on the pass's database with its codes to skip; raises AppError for a list that is
// not a list of whole numbers (nothing reaches the database then), DatabaseError when the
// database refuses.
PhotoPassPlan planPhotoPass(Connection& con, const QString& skipList);

}  // namespace patrimonio
