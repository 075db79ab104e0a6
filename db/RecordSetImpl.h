#pragma once
// What a record set holds inside: the fields, the rows, the row being inserted or edited, the
// change log and what sends it. Every member is defined in RecordSet.cpp; what it asks of
// others (the rows, the packed rows, the BLOB fetch, the sending) lives in units of its own.
//
// Rows are held close to their size on the wire (db/RowStore.h, db/PackedRow.h); only a row
// being edited, edited and pending, or read for its BLOBs is held as typed values.

#include <QHash>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/ChangeSender.h"
#include "db/ColumnTypes.h"
#include "db/ConnectionImpl.h"
#include "db/FbApi.h"
#include "db/PackedRow.h"
#include "db/PreparedStatement.h"
#include "db/RecordSet.h"
#include "db/RowCursor.h"
#include "db/RowStore.h"
#include "db/WriteBackSql.h"

namespace patrimonio {

namespace detail {

// A row as typed values: the row being inserted or edited, an edited row whose change is
// pending, or a row read for its BLOBs.
struct RowExtra {
    std::vector<Value> cur;
    std::vector<Value> orig;  // the values as read, when they differ from cur (else empty)
    std::vector<char> assigned;
    bool blobsLoaded = false;
    // Per field: its BLOB was given by whoever read it ahead (RecordSet::giveBlob); or empty.
    std::vector<char> blobGiven;
    bool pending = false;    // has a change in the change log
    bool inDatabase = true;  // false for an inserted row not yet written
    bool fromRaw = false;    // cur is the row as held, nothing changed: let go when left

    const std::vector<Value>& asRead() const { return orig.empty() ? cur : orig; }
    bool anyAssigned() const {
        return std::any_of(assigned.begin(), assigned.end(), [](char c) { return c != 0; });
    }
};

struct Change {
    bool insert = false;
    std::uint32_t row = kNoRow;
};

class RowSource;

}  // namespace detail

struct RecordSet::Impl {
    using RowExtra = detail::RowExtra;
    using Change = detail::Change;
    using Param = detail::Param;

    explicit Impl(RecordSet& owner) : self(owner), sender(owner.connection_->impl()) {}

    RecordSet& self;
    std::vector<std::unique_ptr<Field>> fields;
    detail::MessageLayout layout;  // of the fetched rows
    std::vector<QString> columns;  // the table's column name of each field (empty: none)
    QHash<QString, int> byName;    // upper-case field name -> index

    detail::RowStore rows;
    detail::PackedRowCodec packing{layout.types, rows.blobs()};
    std::uint32_t current = detail::kNoRow;
    std::unordered_map<std::uint32_t, std::unique_ptr<RowExtra>> extras;

    std::unique_ptr<RowExtra> buffer;             // the row being inserted or edited
    std::uint32_t insertBefore = detail::kNoRow;  // kNoRow: after the last row
    std::vector<Change> changes;
    std::optional<Refusal> refusal;

    // Sends the change log, keeping its statements prepared between write-backs.
    detail::ChangeSender sender;
    // The cursor the rows came from, while it is open: its snapshot reads their BLOBs.
    std::weak_ptr<RowCursor::State> snapshot;

    Connection::Impl& conn() { return self.connection_->impl(); }
    int count() const { return static_cast<int>(fields.size()); }
    bool isBlob(int i) const { return codec::isBlob(layout.types[i]); }
    const QString& name(int i) const { return fields[i]->name_; }
    bool pendingInsert(std::uint32_t row) const {
        return rows.isNew(row) && !extras.count(row) && (rows.data(row)[0] & detail::kPending) &&
               !(rows.data(row)[0] & detail::kInDatabase);
    }
    RowExtra* extraOf(std::uint32_t row) const {
        if (extras.empty()) return nullptr;
        const auto it = extras.find(row);
        return it == extras.end() ? nullptr : it->second.get();
    }

    // ---- opening ------------------------------------------------------------------------

    void clear();
    // The rows and the change log only: fields and prepared statements stay.
    void clearRows();
    void open(detail::RowSource& source);

    // ---- rows ---------------------------------------------------------------------------

    // Packs a new row's assigned values (BLOB bytes go to the store) and keeps them.
    unsigned char* pack(const RowExtra& x, unsigned char flags);
    // Frees the store slots a packed row holds.
    void releaseBlobs(std::uint32_t row);
    // A written new row lets its BLOB bytes go; they are fetched again when read.
    void forgetBlobs(std::uint32_t row);
    // The row as typed values (BLOBs not yet fetched read as NULL until loadBlobs).
    std::unique_ptr<RowExtra> materialize(std::uint32_t row) const;
    // The value of a field as held, BLOBs aside.
    Value heldValue(std::uint32_t row, int i) const;

    // ---- reading ------------------------------------------------------------------------

    QList<sql::WhereColumn> whereOf(const std::vector<Value>& asRead,
                                    std::vector<Param>* params) const;
    // Fetches the row's BLOBs again by its values as read.
    void loadBlobs(RowExtra& x, std::uint32_t row);
    // Reads them by id in the snapshot of the cursor the row came from; false when there is none.
    bool blobsFromSnapshot(RowExtra& x, const std::vector<int>& blobFields, std::uint32_t row);
    // The BLOBs read for a row become its values, and its values as read.
    void takeBlobs(RowExtra& x, const std::vector<int>& blobFields, const std::vector<Value>& got);
    // The fetch buffer of a fetched row; null for a row added here.
    const unsigned char* rowData(std::uint32_t row) const {
        return row == detail::kNoRow || rows.isNew(row) ? nullptr : rows.data(row);
    }
    bool editing() const;
    Value read(int i);
    // A field of a row as read, editing aside; a BLOB is fetched and kept with the row.
    Value readAt(std::uint32_t row, int i);
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
    void startInsert();
    void startEdit();

    // ---- write-back ---------------------------------------------------------------------

    // A pending change as typed values (the row's values and which fields were assigned).
    std::unique_ptr<RowExtra> changedRow(const Change& ch) const;
    // The statement and parameters of one change; empty text when there is nothing to send.
    QString statementOf(const Change& ch, const QString& table, std::vector<Param>* params) const;
    // The fields a new row names, one character per field ('1': named).
    std::string namedFields(const Change& ch) const;
    QString tableName() const;
    int applyUpdates(int maxErrors);
    void dropChange(int index);
};

}  // namespace patrimonio
