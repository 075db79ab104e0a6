#pragma once
// The BLOBs of one column of a page read from a cursor still open, read by their ids in the
// cursor's snapshot on another thread while the thread that owns the record set goes on with
// the page's rows: what is read is each row's BLOB as it was when the page was read, whatever
// another program changed or deleted since. The attachment serves one call at a time, so the
// other thread may read while the owner writes through another connection or waits.

#include <QByteArray>
#include <memory>
#include <optional>
#include <vector>

#include "db/FieldType.h"
#include "db/RowCursor.h"

namespace patrimonio {

class RecordSet;

class PageBlobs {
public:
    // None: nothing to read (PageBlobs::of found no cursor still open, or no such column).
    PageBlobs();
    ~PageBlobs();
    PageBlobs(PageBlobs&&) noexcept;
    PageBlobs& operator=(PageBlobs&&) noexcept;

    // The BLOBs of field `field` in every row of the page `rows` holds, from its first row on,
    // their ids taken now; none when the page is not one of a cursor still open.
    static PageBlobs of(RecordSet& rows, int field);

    bool any() const { return state_ != nullptr; }
    int rowCount() const;
    FieldType type() const;
    // True when row `row` holds no BLOB (NULL): nothing to read.
    bool isNull(int row) const;
    // Row `row`'s BLOB bytes, read by its id in the page's snapshot. Raises DatabaseError. One
    // thread at a time; never after the cursor's connection was closed by its owner.
    QByteArray read(int row) const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace patrimonio
