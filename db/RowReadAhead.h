#pragma once
// The rows of a query read ahead on a thread of its own, for a step that copies them in order.
//
// The source is another attachment than the target, so the server reads these rows on another
// core while it writes the last ones elsewhere; the rows wait in a few blocks, so a table of any
// size costs the same little memory. The rows are those of one moment: the count and the rows
// come from one read-only snapshot, and a BLOB is read by its id in that same snapshot.

#include <QString>
#include <memory>
#include <vector>

#include "db/FieldType.h"
#include "db/Value.h"

namespace patrimonio {

class Connection;

class RowReadAhead {
public:
    // Connects when needed, starts the snapshot, counts the rows, opens the query and starts
    // reading `blockRows` rows at a time, at most `blocksAhead` blocks ahead of the reader;
    // returns once the first block is read. Raises DatabaseError, also when the first rows
    // cannot be read (nothing stays open then).
    RowReadAhead(Connection& connection, const QString& sql, int blockRows = 512,
                 int blocksAhead = 8);
    // Stops the reading thread, closes the query and ends the snapshot, quietly: an error that
    // leaves the step is the one to report.
    ~RowReadAhead();
    RowReadAhead(const RowReadAhead&) = delete;
    RowReadAhead& operator=(const RowReadAhead&) = delete;

    // The rows the query gives, counted in the snapshot before reading them.
    int rowCount() const;
    int fieldCount() const;
    // The name a record set gives the field (its alias, else the column).
    const QString& fieldName(int index) const;
    FieldType fieldType(int index) const;

    // Moves to the next row (the first one on the first call); false past the last one. Raises
    // the DatabaseError the reading met, once the rows read before it have been handed out.
    bool next();
    // Field `index` of the current row, as a record set's Field::AsVariant reads it: a binary
    // BLOB of zero bytes reads as NULL, a NULL text BLOB as empty text.
    Value value(int index) const;

    // Bytes the blocks read ahead hold at most.
    std::size_t bytesAhead() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace patrimonio
