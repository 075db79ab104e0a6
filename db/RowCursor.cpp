#include "db/RowCursor.h"

#include "core/Text.h"
#include "db/RowSource.h"

namespace patrimonio {

using namespace Firebird;

RowCursor::State::~State() {
    // Closed quietly: a cursor is also dropped while an error (a lost connection, say) leaves
    // the step, and that error is the one to report.
    fb::closeQuietly(rs);
    out.reset();
    stmt.drop();
    // The snapshot only read: rolling it back (when it is dropped) ends it like a commit.
}

RowCursor::RowCursor(Connection& connection, const QString& sql)
    : state_(std::make_shared<State>()) {
    connection.Open();
    State& s = *state_;
    s.owner = &connection;
    s.connection = &connection.impl();
    s.sql = sql;
    Connection::Impl& c = *s.connection;
    c.guarded([&] {
        fb::Status st;
        s.snapshot.emplace(fb::startReadSnapshot(c.att()));
        ++c.transactionsStarted;
        s.stmt = fb::Statement(c.att(), s.transaction(), toWin1252(sql), c.dialect);
        s.out.reset(s.stmt->getOutputMetadata(&st));
        s.rs.reset(s.stmt->openCursor(&st, s.transaction(), nullptr, nullptr, s.out.get(), 0));
    });
}

RowCursor::~RowCursor() = default;

Connection& RowCursor::connection() const {
    return *state_->owner;
}

const QString& RowCursor::sql() const {
    return state_->sql;
}

bool RowCursor::atEnd() const {
    return state_->atEnd;
}

}  // namespace patrimonio
