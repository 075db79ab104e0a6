#include "db/RowCursor.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "core/Errors.h"
#include "core/Text.h"
#include "db/PreparedStatement.h"
#include "db/RowSource.h"

namespace patrimonio {

using namespace Firebird;

struct RowCursor::State::Ahead {
    int blockRows = 0;
    int blocksAhead = 0;

    // Shared with the reading thread, under the mutex.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<unsigned char>> blocks;
    bool readerDone = false;
    bool stopping = false;
    std::optional<DatabaseError> failure;
    std::thread reader;

    void read(State& s);
    void stop();
};

void RowCursor::State::Ahead::read(State& s) {
    for (;;) {
        std::vector<unsigned char> block(s.stride * static_cast<std::size_t>(blockRows));
        std::size_t got = 0;
        bool atEnd = false;
        std::optional<DatabaseError> error;
        try {
            fb::Status st;
            while (got < static_cast<std::size_t>(blockRows)) {
                if (s.rs->fetchNext(&st, block.data() + got * s.stride) != IStatus::RESULT_OK) {
                    atEnd = true;
                    break;
                }
                ++got;
            }
        } catch (const FbException& e) {
            error = fb::toDatabaseError(e);
        }
        block.resize(got * s.stride);
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] {
            return stopping || blocks.size() < static_cast<std::size_t>(blocksAhead);
        });
        if (stopping) return;
        if (got > 0) blocks.push_back(std::move(block));
        if (error) failure = std::move(error);
        if (atEnd || failure) readerDone = true;
        changed.notify_all();
        if (readerDone) return;
    }
}

void RowCursor::State::Ahead::stop() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (reader.joinable()) reader.join();
}

RowCursor::State::~State() {
    if (ahead) ahead->stop();
    // Closed quietly: a cursor is also dropped while an error (a lost connection, say) leaves
    // the step, and that error is the one to report.
    fb::closeQuietly(rs);
    out.reset();
    stmt.drop();
    // The snapshot only read: rolling it back (when it is dropped) ends it like a commit.
}

bool RowCursor::State::advance() {
    if (started && position + 1 < rowsInCurrent) {
        ++position;
        return true;
    }
    std::unique_lock lock(ahead->mutex);
    ahead->changed.wait(lock, [&] { return !ahead->blocks.empty() || ahead->readerDone; });
    if (!ahead->blocks.empty()) {
        current = std::move(ahead->blocks.front());
        ahead->blocks.pop_front();
        rowsInCurrent = current.size() / stride;
        position = 0;
        started = true;
        lock.unlock();
        ahead->changed.notify_all();
        return true;
    }
    rowsInCurrent = 0;
    position = 0;
    atEnd = true;
    if (ahead->failure) {
        // The loss is noted on the connection here, on the thread that uses it.
        const DatabaseError error = *ahead->failure;
        lock.unlock();
        connection->watch([&]() -> int { throw error; });
    }
    return false;
}

bool RowCursor::State::fetch(unsigned char* row) {
    if (ahead) {
        if (!advance()) return false;
        std::memcpy(row, current.data() + position * stride, messageLength);
        return true;
    }
    if (atEnd || !rs) return false;
    fb::Status st;
    if (rs->fetchNext(&st, row) != IStatus::RESULT_OK) {
        atEnd = true;
        return false;
    }
    return true;
}

namespace {

int countRows(Connection::Impl& c, ITransaction* tra, const QString& sql) {
    fb::Status st;
    fb::Statement counting(
        c.att(), tra,
        toWin1252(QStringLiteral("select count(*) from (") + sql + QStringLiteral(")")), c.dialect);
    fb::Ref<IMessageMetadata> meta(counting->getOutputMetadata(&st));
    std::vector<unsigned char> buffer(meta->getMessageLength(&st));
    counting->execute(&st, tra, nullptr, nullptr, meta.get(), buffer.data());
    const Value n =
        codec::decode(buffer.data(), meta->getOffset(&st, 0), meta->getNullOffset(&st, 0),
                      detail::columnType(meta.get(), st, 0));
    counting.free(&st);
    return static_cast<int>(n.integer());
}

// The snapshot started, the rows counted when asked, the query opened and its row's layout.
void startCursor(RowCursor::State& s, Connection& connection, const QString& sql, bool counted) {
    connection.Open();
    s.owner = &connection;
    s.connection = &connection.impl();
    s.sql = sql;
    Connection::Impl& c = *s.connection;
    c.guarded([&] {
        fb::Status st;
        s.snapshot.emplace(fb::startReadSnapshot(c.att()));
        ++c.transactionsStarted;
        if (counted) s.count = countRows(c, s.transaction(), sql);
        s.stmt = fb::Statement(c.att(), s.transaction(), toWin1252(sql), c.dialect);
        s.out.reset(s.stmt->getOutputMetadata(&st));
        const unsigned n = s.out->getCount(&st);
        if (n == 0) throw AppError(QStringLiteral("CommandText does not return a result set"));
        for (unsigned i = 0; i < n; ++i) {
            s.types.push_back(detail::columnType(s.out.get(), st, i));
            s.offsets.push_back(s.out->getOffset(&st, i));
            s.nullOffsets.push_back(s.out->getNullOffset(&st, i));
            QString name = QString::fromUtf8(s.out->getAlias(&st, i));
            if (name.isEmpty()) name = QString::fromUtf8(s.out->getField(&st, i));
            s.names.push_back(name);
        }
        s.messageLength = s.out->getMessageLength(&st);
        s.stride = (s.messageLength + 7u) & ~std::size_t{7};
        s.rs.reset(s.stmt->openCursor(&st, s.transaction(), nullptr, nullptr, s.out.get(), 0));
    });
}

}  // namespace

RowCursor::RowCursor(Connection& connection, const QString& sql)
    : state_(std::make_shared<State>()) {
    startCursor(*state_, connection, sql, false);
}

RowCursor::RowCursor(Connection& connection, const QString& sql, ReadAhead ahead)
    : state_(std::make_shared<State>()) {
    State& s = *state_;
    startCursor(s, connection, sql, true);
    s.ahead = std::make_unique<State::Ahead>();
    State::Ahead& a = *s.ahead;
    a.blockRows = std::max(1, ahead.blockRows);
    a.blocksAhead = std::max(1, ahead.blocksAhead);
    a.reader = std::thread([&s] { s.ahead->read(s); });
    // A query that fails at its first rows (a computed column that cannot be computed, say)
    // fails here, before the step has written anything, as a query read whole would.
    std::unique_lock lock(a.mutex);
    a.changed.wait(lock, [&] { return !a.blocks.empty() || a.readerDone; });
    if (a.blocks.empty() && a.failure) {
        const DatabaseError error = *a.failure;
        lock.unlock();
        s.connection->watch([&]() -> int { throw error; });
    }
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

int RowCursor::rowCount() const {
    return state_->count;
}

int RowCursor::fieldCount() const {
    return static_cast<int>(state_->types.size());
}

const QString& RowCursor::fieldName(int index) const {
    return state_->names.at(static_cast<std::size_t>(index));
}

FieldType RowCursor::fieldType(int index) const {
    return codec::fieldTypeOf(state_->types.at(static_cast<std::size_t>(index)));
}

std::size_t RowCursor::bytesAhead() const {
    const State& s = *state_;
    if (!s.ahead) return s.stride;
    return s.stride * static_cast<std::size_t>(s.ahead->blockRows) *
           static_cast<std::size_t>(s.ahead->blocksAhead + 1);
}

bool RowCursor::next() {
    State& s = *state_;
    if (s.ahead) return s.advance();
    // Read here, one row at a time.
    if (s.current.size() < s.stride) s.current.resize(s.stride);
    const bool got = s.connection->guarded([&] { return s.fetch(s.current.data()); });
    s.rowsInCurrent = got ? 1 : 0;
    s.position = 0;
    s.started = got;
    return got;
}

Value RowCursor::value(int index) const {
    const State& s = *state_;
    if (s.position >= s.rowsInCurrent) return {};
    const auto i = static_cast<std::size_t>(index);
    const codec::ColumnType& t = s.types.at(i);
    const unsigned char* row = s.current.data() + s.position * s.stride;
    if (!codec::isBlob(t)) return codec::decode(row, s.offsets[i], s.nullOffsets[i], t);
    short flag = 0;
    std::memcpy(&flag, row + s.nullOffsets[i], sizeof flag);
    Value v;
    if (!flag) {
        Connection::Impl& c = *s.connection;
        const QByteArray bytes = c.guarded([&] {
            return fb::readBlob(c.att(), s.snapshot->get(), codec::blobId(row, s.offsets[i]));
        });
        v = t.subType == 1 ? Value::text(bytes) : Value::binary(bytes);
    }
    if (t.subType != 1 && !v.isNull() && v.bytes().isEmpty()) return {};
    if (t.subType == 1 && v.isNull()) return Value::text({});
    return v;
}

}  // namespace patrimonio
