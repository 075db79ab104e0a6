#include "db/RowReadAhead.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "core/Errors.h"
#include "core/Text.h"
#include "db/ColumnTypes.h"
#include "db/ConnectionImpl.h"
#include "db/FbApi.h"
#include "db/PreparedStatement.h"

namespace patrimonio {

using namespace Firebird;

struct RowReadAhead::State {
    Connection::Impl* connection = nullptr;
    std::optional<fb::Transaction> snapshot;
    fb::Statement stmt;
    fb::Ref<IMessageMetadata> out;
    fb::Ref<IResultSet> rs;
    std::vector<codec::ColumnType> types;
    std::vector<unsigned> offsets, nullOffsets;
    std::vector<QString> names;
    std::size_t stride = 0;
    int count = 0;
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

    // The consumer's side only.
    std::vector<unsigned char> current;
    std::size_t rowsInCurrent = 0;
    std::size_t position = 0;
    bool started = false;

    void read();
    ~State();
};

void RowReadAhead::State::read() {
    for (;;) {
        std::vector<unsigned char> block(stride * static_cast<std::size_t>(blockRows));
        std::size_t got = 0;
        bool atEnd = false;
        std::optional<DatabaseError> error;
        try {
            fb::Status st;
            while (got < static_cast<std::size_t>(blockRows)) {
                if (rs->fetchNext(&st, block.data() + got * stride) != IStatus::RESULT_OK) {
                    atEnd = true;
                    break;
                }
                ++got;
            }
        } catch (const FbException& e) {
            error = fb::toDatabaseError(e);
        }
        block.resize(got * stride);
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

RowReadAhead::State::~State() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (reader.joinable()) reader.join();
    // Closed quietly, as a cursor is: an error leaving the step is the one to report.
    fb::closeQuietly(rs);
    out.reset();
    stmt.drop();
    // The snapshot only read: rolled back as it is dropped.
}

RowReadAhead::RowReadAhead(Connection& connection, const QString& sql, int blockRows,
                           int blocksAhead)
    : state_(std::make_unique<State>()) {
    connection.Open();
    State& s = *state_;
    s.connection = &connection.impl();
    s.blockRows = std::max(1, blockRows);
    s.blocksAhead = std::max(1, blocksAhead);
    Connection::Impl& c = *s.connection;
    c.guarded([&] {
        fb::Status st;
        s.snapshot.emplace(fb::startReadSnapshot(c.att()));
        ++c.transactionsStarted;
        ITransaction* tra = s.snapshot->get();
        {
            fb::Statement counting(
                c.att(), tra,
                toWin1252(QStringLiteral("select count(*) from (") + sql + QStringLiteral(")")),
                c.dialect);
            fb::Ref<IMessageMetadata> meta(counting->getOutputMetadata(&st));
            std::vector<unsigned char> buffer(meta->getMessageLength(&st));
            counting->execute(&st, tra, nullptr, nullptr, meta.get(), buffer.data());
            const Value n =
                codec::decode(buffer.data(), meta->getOffset(&st, 0), meta->getNullOffset(&st, 0),
                              detail::columnType(meta.get(), st, 0));
            s.count = static_cast<int>(n.integer());
            counting.free(&st);
        }
        s.stmt = fb::Statement(c.att(), tra, toWin1252(sql), c.dialect);
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
        // Each row keeps the message as it came, aligned for its widest member.
        s.stride = (s.out->getMessageLength(&st) + 7u) & ~std::size_t{7};
        s.rs.reset(s.stmt->openCursor(&st, tra, nullptr, nullptr, s.out.get(), 0));
    });
    s.reader = std::thread([&s] { s.read(); });
    // A query that fails at its first rows (a computed column that cannot be computed, say)
    // fails here, before the step has written anything, as a query read whole would.
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return !s.blocks.empty() || s.readerDone; });
    if (s.blocks.empty() && s.failure) {
        const DatabaseError error = *s.failure;
        lock.unlock();
        c.watch([&]() -> int { throw error; });
    }
}

RowReadAhead::~RowReadAhead() = default;

int RowReadAhead::rowCount() const {
    return state_->count;
}

int RowReadAhead::fieldCount() const {
    return static_cast<int>(state_->types.size());
}

const QString& RowReadAhead::fieldName(int index) const {
    return state_->names.at(static_cast<std::size_t>(index));
}

FieldType RowReadAhead::fieldType(int index) const {
    return codec::fieldTypeOf(state_->types.at(static_cast<std::size_t>(index)));
}

std::size_t RowReadAhead::bytesAhead() const {
    return state_->stride * static_cast<std::size_t>(state_->blockRows) *
           static_cast<std::size_t>(state_->blocksAhead + 1);
}

bool RowReadAhead::next() {
    State& s = *state_;
    if (s.started && s.position + 1 < s.rowsInCurrent) {
        ++s.position;
        return true;
    }
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return !s.blocks.empty() || s.readerDone; });
    if (!s.blocks.empty()) {
        s.current = std::move(s.blocks.front());
        s.blocks.pop_front();
        s.rowsInCurrent = s.current.size() / s.stride;
        s.position = 0;
        s.started = true;
        lock.unlock();
        s.changed.notify_all();
        return true;
    }
    s.rowsInCurrent = 0;
    s.position = 0;
    if (s.failure) {
        // The loss is noted on the connection here, on the thread that uses it.
        const DatabaseError error = *s.failure;
        lock.unlock();
        s.connection->watch([&]() -> int { throw error; });
    }
    return false;
}

Value RowReadAhead::value(int index) const {
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
