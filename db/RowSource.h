#pragma once
// Where a record set takes its rows from when it opens: its own SELECT in a transaction of its
// own, or the next page of a cursor kept open elsewhere (db/RowCursor.h).

#include <QByteArray>
#include <optional>
#include <vector>

#include "db/ColumnTypes.h"
#include "db/ConnectionImpl.h"
#include "db/FbApi.h"
#include "db/RowCursor.h"

namespace patrimonio {

struct RowCursor::State {
    Connection::Impl* connection = nullptr;
    Connection* owner = nullptr;
    QString sql;
    std::optional<fb::Transaction> snapshot;  // read-only, concurrency
    fb::Statement stmt;
    fb::Ref<Firebird::IMessageMetadata> out;
    fb::Ref<Firebird::IResultSet> rs;
    bool atEnd = false;
    int count = -1;  // counted only when read ahead

    // One row's message, as the server sends it, and where each field lies in it; a row read
    // ahead takes `stride` bytes, the message aligned for its widest member.
    std::vector<codec::ColumnType> types;
    std::vector<unsigned> offsets, nullOffsets;
    std::vector<QString> names;
    std::size_t messageLength = 0;
    std::size_t stride = 0;

    // The rows next() moves through: a block read ahead, or the one row read here.
    std::vector<unsigned char> current;
    std::size_t rowsInCurrent = 0;
    std::size_t position = 0;
    bool started = false;

    // The reading thread and the blocks it hands over, when the cursor reads ahead.
    struct Ahead;
    std::unique_ptr<Ahead> ahead;

    ~State();
    Firebird::ITransaction* transaction() const { return snapshot ? snapshot->get() : nullptr; }
    // Fills one row's message with the next row, read here or taken from the blocks read
    // ahead; false past the last row. Raises the error the reading met.
    bool fetch(unsigned char* row);
    // Moves `current`/`position` to the next row read ahead; false past the last one.
    bool advance();
};

namespace detail {

class RowSource {
public:
    virtual ~RowSource() = default;
    // The transaction the rows are read in; the catalogue is read in it too.
    virtual Firebird::ITransaction* transaction() = 0;
    virtual Firebird::IMessageMetadata* metadata() = 0;
    // Fills one row's message; false when there are no more rows for this load.
    virtual bool fetch(unsigned char* row) = 0;
    // Called once the rows are loaded.
    virtual void finish() = 0;
};

// A query read whole in a read-only read-committed transaction that ends with the load.
class QueryRows final : public RowSource {
public:
    QueryRows(Connection::Impl& c, const QByteArray& text);
    Firebird::ITransaction* transaction() override { return tra_.get(); }
    Firebird::IMessageMetadata* metadata() override { return out_.get(); }
    bool fetch(unsigned char* row) override;
    void finish() override;

private:
    fb::Transaction tra_;
    fb::Statement stmt_;
    fb::Ref<Firebird::IMessageMetadata> out_;
    fb::Ref<Firebird::IResultSet> rs_;
};

// The next rows of a cursor, at most `rows` of them.
class CursorPage final : public RowSource {
public:
    CursorPage(RowCursor::State& cursor, int rows) : cursor_(cursor), left_(rows) {}
    Firebird::ITransaction* transaction() override { return cursor_.transaction(); }
    Firebird::IMessageMetadata* metadata() override { return cursor_.out.get(); }
    bool fetch(unsigned char* row) override;
    void finish() override {}

private:
    RowCursor::State& cursor_;
    int left_;
};

}  // namespace detail

}  // namespace patrimonio
