#pragma once
// What a record set holds inside: the fields, the rows as fetched, the row being inserted or
// edited and the change log. Reading and editing live in RecordSet.cpp, the write-back in
// RecordSetWriteBack.cpp.

#include <QHash>
#include <QSet>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "db/ConnectionImpl.h"
#include "db/FbApi.h"
#include "db/RecordSet.h"
#include "db/ValueCodec.h"
#include "db/WriteBackSql.h"

namespace patrimonio {

namespace detail {

// Text columns this long are left out of the WHERE of generated statements.
constexpr unsigned kLongColumn = 8192;

inline const QString kRecordChanged = QStringLiteral("Record not found or changed by another user");

// A row that was touched: edited, inserted, or read for its BLOBs.
struct RowExtra {
    std::vector<Value> cur;
    std::vector<Value> orig;  // the values as read, when they differ from cur (else empty)
    std::vector<char> assigned;
    bool blobsLoaded = false;
    bool pending = false;    // has a change in the change log
    bool inDatabase = true;  // false for an inserted row not yet written
    bool fromRaw = false;    // cur is the fetched row as it came, nothing changed

    const std::vector<Value>& asRead() const { return orig.empty() ? cur : orig; }
    bool anyAssigned() const {
        return std::any_of(assigned.begin(), assigned.end(), [](char c) { return c != 0; });
    }
};

struct Row {
    const unsigned char* raw = nullptr;  // the fetch buffer of the row (null for inserted rows)
    std::unique_ptr<RowExtra> extra;
};

struct Change {
    bool insert = false;
    RowExtra* row = nullptr;
};

// A prepared statement with its input message laid out by the server.
struct Prepared {
    fb::Statement stmt;
    fb::Ref<Firebird::IMessageMetadata> in;
    std::vector<codec::ColumnType> types;
    std::vector<unsigned> offsets, nullOffsets;
    std::vector<unsigned char> buffer;
};

// One parameter: the value and the field it belongs to (for messages).
struct Param {
    Value value;
    QString field;
};

codec::ColumnType columnType(Firebird::IMessageMetadata* m, fb::Status& st, unsigned i);
// Raises Firebird::FbException.
Prepared prepare(Connection::Impl& c, Firebird::ITransaction* tra, const QString& text);
// Converts and places every parameter; BLOB values become new BLOBs in the transaction.
void bindParams(Prepared& p, Connection::Impl& c, Firebird::ITransaction* tra,
                const std::vector<Param>& params);

}  // namespace detail

struct RecordSet::Impl {
    using RowExtra = detail::RowExtra;
    using Row = detail::Row;
    using Change = detail::Change;
    using Param = detail::Param;
    using ITransaction = Firebird::ITransaction;

    explicit Impl(RecordSet& owner) : self(owner) {}

    RecordSet& self;
    std::vector<std::unique_ptr<Field>> fields;
    std::vector<codec::ColumnType> types;
    std::vector<unsigned> offsets, nullOffsets;
    std::vector<QString> columns;  // the table's column name of each field (empty: none)
    QHash<QString, int> byName;    // upper-case field name -> index

    unsigned stride = 0;
    std::vector<std::unique_ptr<unsigned char[]>> chunks;
    size_t rowsPerChunk = 0, usedInChunk = 0;
    std::vector<Row> rows;
    int current = -1;
    std::unique_ptr<RowExtra> buffer;  // the row being inserted or edited
    int insertAt = 0;
    std::vector<Change> changes;
    std::optional<Refusal> refusal;
    Connection::Impl& conn() { return self.connection_->impl(); }
    int count() const { return static_cast<int>(fields.size()); }
    bool isBlob(int i) const { return codec::isBlob(types[i]); }
    const QString& name(int i) const { return fields[i]->name_; }

    // ---- opening ------------------------------------------------------------------------

    void clear();
    unsigned char* nextSlot();
    const QSet<QString>& computedOf(const QString& relation, ITransaction* tra);
    void open();

    // ---- reading ------------------------------------------------------------------------

    std::unique_ptr<RowExtra> materialize(const Row& r) const;
    QList<sql::WhereColumn> whereOf(const std::vector<Value>& asRead,
                                    std::vector<Param>* params) const;

    // Fetches the row's BLOBs again by its values as read.
    void loadBlobs(RowExtra& x);
    bool editing() const;
    Value read(int i);

    // NULL as stored, without fetching a BLOB only for that.
    bool isNull(int i);
    void assign(int i, const Value& v);

    // ---- moving and posting --------------------------------------------------------------

    // Leaving a row: what was only read for it (its BLOBs) is let go.
    void leaveRow();
    void checkRequired();
    void post();
    void finishRow();
    void cancel();
    void startInsert(int at);
    void startEdit();

    // ---- write-back ---------------------------------------------------------------------

    // The statement and parameters of one change; empty text when there is nothing to send.
    QString statementOf(const Change& ch, const QString& table, std::vector<Param>* params) const;
    QString tableName() const;
    int applyUpdates(int maxErrors);
    void dropChange(int index);
};

}  // namespace patrimonio
