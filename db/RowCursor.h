#pragma once
// The one reader of a step's source rows: a query kept open for the whole step or pass, in a
// read-only snapshot transaction of its own, read either on the caller's thread, a page at a
// time into a record set, or ahead on a thread of its own, row by row.
//
// Reading a table in pages with FIRST/SKIP makes the server walk again past every row before
// the page, so the last page of a large table costs as much as reading all of it; and a row
// that another program inserts, deletes or renumbers between two pages shifts every later
// page by one, so that a row is met twice or never. A cursor opened once goes on where the
// last page ended, and its snapshot makes the rows (and the count, when read ahead) those of
// one moment of the table whatever others change meanwhile. A BLOB is read by its id in that
// same snapshot. What the rows write back goes in the record set's own transactions, as always.
//
// Read ahead, the source is another attachment than the target, so the server reads these rows
// on another core while it writes the last ones elsewhere; the rows wait in a few blocks, so a
// table of any size costs the same little memory.

#include <QString>
#include <memory>

#include "db/FieldType.h"
#include "db/Value.h"

namespace patrimonio {

class Connection;

class RowCursor {
public:
    // How far a cursor reads ahead: `blockRows` rows at a time, at most `blocksAhead` blocks
    // ahead of the reader.
    struct ReadAhead {
        int blockRows = 512;
        int blocksAhead = 8;
    };

    // Starts the snapshot and opens the query on the connection, connecting it first when
    // needed; the rows are read on the caller's thread when it asks for them. Raises
    // DatabaseError (nothing stays open then).
    RowCursor(Connection& connection, const QString& sql);
    // The same, and then counts the rows in the snapshot and starts reading them ahead; returns
    // once the first block is read. Raises DatabaseError, also when the first rows cannot be
    // read: a query that fails there fails before the step has written anything.
    RowCursor(Connection& connection, const QString& sql, ReadAhead ahead);
    // Stops the reading thread, closes the query and ends the snapshot, quietly: an error that
    // leaves the step is the one to report. Record sets holding a page of it read their BLOBs
    // as any other record set from then on.
    ~RowCursor();
    RowCursor(const RowCursor&) = delete;
    RowCursor& operator=(const RowCursor&) = delete;

    Connection& connection() const;
    const QString& sql() const;
    // True once the rows are all handed out.
    bool atEnd() const;

    // The rows the query gives, counted in the snapshot before reading them; only a cursor that
    // reads ahead counts them (-1 otherwise).
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
    State& state() const { return *state_; }
    std::shared_ptr<State> shared() const { return state_; }

private:
    std::shared_ptr<State> state_;
};

}  // namespace patrimonio
