#pragma once
// A query kept open for a whole step or pass, read page by page into a record set.
//
// Reading a table in pages with FIRST/SKIP makes the server walk again past every row before
// the page, so the last page of a large table costs as much as reading all of it; and a row
// that another program inserts, deletes or renumbers between two pages shifts every later
// page by one, so that a row is met twice or never. A cursor opened once goes on where the
// last page ended, and it lives in a read-only snapshot transaction of its own, so the pages
// are those of one moment of the table whatever others change meanwhile. What the pages
// write back goes in the record set's own transactions, as always.

#include <QString>
#include <memory>

namespace patrimonio {

class Connection;

class RowCursor {
public:
    // Starts the snapshot and opens the query on the connection, connecting it first when
    // needed. Raises DatabaseError (nothing stays open then).
    RowCursor(Connection& connection, const QString& sql);
    // Closes the query and ends the snapshot; record sets holding a page of it read their
    // BLOBs as any other record set from then on.
    ~RowCursor();
    RowCursor(const RowCursor&) = delete;
    RowCursor& operator=(const RowCursor&) = delete;

    Connection& connection() const;
    const QString& sql() const;
    // True once a page found the end of the rows.
    bool atEnd() const;

    struct State;
    State& state() const { return *state_; }
    std::shared_ptr<State> shared() const { return state_; }

private:
    std::shared_ptr<State> state_;
};

}  // namespace patrimonio
