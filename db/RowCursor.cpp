#include "db/RowCursor.h"

#include <cstring>

#include "core/Text.h"
#include "db/RecordSetImpl.h"
#include "db/RowSource.h"

namespace patrimonio {

using namespace Firebird;

namespace {

// Read-only snapshot: the rows of one moment, whatever other transactions commit meanwhile.
fb::Transaction startSnapshot(IAttachment* att) {
    const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_concurrency, isc_tpb_read,
                                 isc_tpb_nowait};
    fb::Status st;
    return fb::Transaction(att->startTransaction(&st, sizeof tpb, tpb));
}

}  // namespace

RowCursor::State::~State() {
    // Closed quietly: a cursor is also dropped while an error (a lost connection, say) leaves
    // the step, and that error is the one to report.
    if (rs) {
        IStatus* s = fb::master()->getStatus();
        CheckStatusWrapper w(s);
        rs->close(&w);
        if (w.getState() & IStatus::STATE_ERRORS) {
            rs.reset();
        } else {
            rs.release();
        }
        s->dispose();
    }
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
        s.snapshot.emplace(startSnapshot(c.att()));
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

namespace detail {

QueryRows::QueryRows(Connection::Impl& c, const QByteArray& text) : tra_(c.begin(true)) {
    fb::Status st;
    stmt_ = fb::Statement(c.att(), tra_.get(), text, c.dialect);
    out_.reset(stmt_->getOutputMetadata(&st));
}

bool QueryRows::fetch(unsigned char* row) {
    fb::Status st;
    if (!rs_) rs_.reset(stmt_->openCursor(&st, tra_.get(), nullptr, nullptr, out_.get(), 0));
    return rs_->fetchNext(&st, row) == IStatus::RESULT_OK;
}

void QueryRows::finish() {
    fb::Status st;
    if (rs_) {
        rs_->close(&st);
        rs_.release();
    }
    stmt_.free(&st);
    tra_.commit();
}

bool CursorPage::fetch(unsigned char* row) {
    if (left_ <= 0 || cursor_.atEnd || !cursor_.rs) return false;
    fb::Status st;
    if (cursor_.rs->fetchNext(&st, row) != IStatus::RESULT_OK) {
        cursor_.atEnd = true;
        return false;
    }
    --left_;
    return true;
}

}  // namespace detail

// A page of a cursor still open reads its BLOBs by their ids in the cursor's snapshot: one
// round trip fewer than finding the row again, and a row that another program changed since
// the snapshot still gives the photo it had when it was read.
bool RecordSet::Impl::blobsFromSnapshot(RowExtra& x, const std::vector<int>& blobFields,
                                        std::uint32_t row) {
    const std::shared_ptr<RowCursor::State> cursor = snapshot.lock();
    if (!cursor || !cursor->transaction()) return false;
    const unsigned char* raw = rowData(row);
    if (!raw) return false;
    Connection::Impl& c = conn();
    std::vector<Value> got;
    c.guarded([&] {
        for (const int f : blobFields) {
            short flag = 0;
            std::memcpy(&flag, raw + nullOffsets[f], sizeof flag);
            if (flag) {
                got.emplace_back();
                continue;
            }
            const QByteArray bytes =
                fb::readBlob(c.att(), cursor->transaction(), codec::blobId(raw, offsets[f]));
            got.push_back(blobValue(fields[f]->type_, bytes));
        }
    });
    for (size_t k = 0; k < blobFields.size(); ++k) {
        const int f = blobFields[k];
        if (!x.assigned[f]) x.cur[f] = got[k];
        if (!x.orig.empty()) x.orig[f] = got[k];
    }
    x.blobsLoaded = true;
    return true;
}

}  // namespace patrimonio
