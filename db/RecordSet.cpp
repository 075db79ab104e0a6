#include "db/RecordSet.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "core/Errors.h"
#include "core/Text.h"
#include "db/ConnectionImpl.h"
#include "db/FbApi.h"
#include "db/ValueCodec.h"
#include "db/WriteBackSql.h"

namespace patrimonio {

using namespace Firebird;

namespace {

// Text columns this long are left out of the WHERE of generated statements.
constexpr unsigned kLongColumn = 8192;
// Rows are kept in blocks of about this size, one fetch buffer after another.
constexpr size_t kChunkBytes = 1 << 20;

const QString kRecordChanged = QStringLiteral("Record not found or changed by another user");
const QString kMoreThanOne = QStringLiteral("Update affected more than 1 record.");

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

// A statement prepared once per write-back and reused for every row with the same text.
struct Prepared {
    fb::Ref<IStatement> stmt;
    fb::Ref<IMessageMetadata> in;
    std::vector<codec::ColumnType> types;
    std::vector<unsigned> offsets, nullOffsets;
    std::vector<unsigned char> buffer;

    Prepared() = default;
    Prepared(Prepared&&) = default;
    ~Prepared() {
        if (stmt) {
            IStatus* st = fb::master()->getStatus();
            CheckStatusWrapper w(st);
            stmt->free(&w);
            if (!(w.getState() & IStatus::STATE_ERRORS)) stmt.release();
            st->dispose();
        }
    }
};

codec::ColumnType columnType(IMessageMetadata* m, fb::Status& st, unsigned i) {
    codec::ColumnType t;
    t.sqlType = m->getType(&st, i) & ~1u;
    t.scale = m->getScale(&st, i);
    t.length = m->getLength(&st, i);
    t.subType = m->getSubType(&st, i);
    t.charSet = m->getCharSet(&st, i);
    return t;
}

// A statement's input message laid out by the server.
Prepared prepare(Connection::Impl& c, ITransaction* tra, const QString& text) {
    fb::Status st;
    Prepared p;
    const QByteArray bytes = toWin1252(text);
    p.stmt.reset(c.att()->prepare(&st, tra, 0, bytes.constData(), c.dialect,
                                  IStatement::PREPARE_PREFETCH_METADATA));
    p.in.reset(p.stmt->getInputMetadata(&st));
    const unsigned n = p.in->getCount(&st);
    for (unsigned i = 0; i < n; ++i) {
        p.types.push_back(columnType(p.in.get(), st, i));
        p.offsets.push_back(p.in->getOffset(&st, i));
        p.nullOffsets.push_back(p.in->getNullOffset(&st, i));
    }
    p.buffer.assign(p.in->getMessageLength(&st), 0);
    return p;
}

// One parameter: the value and the field it belongs to (for messages).
struct Param {
    Value value;
    QString field;
};

void bindParams(Prepared& p, Connection::Impl& c, ITransaction* tra,
                const std::vector<Param>& params) {
    for (size_t i = 0; i < params.size() && i < p.types.size(); ++i) {
        const codec::ColumnType& t = p.types[i];
        const Value v = codec::convert(params[i].value, t, params[i].field);
        unsigned char* msg = p.buffer.data();
        if (codec::isBlob(t)) {
            short flag = v.isNull() ? -1 : 0;
            std::memcpy(msg + p.nullOffsets[i], &flag, sizeof flag);
            if (!v.isNull()) {
                const ISC_QUAD id = fb::writeBlob(c.att(), tra, v.bytes());
                std::memcpy(msg + p.offsets[i], &id, sizeof id);
            }
        } else {
            codec::encode(v, t, msg, p.offsets[i], p.nullOffsets[i], params[i].field);
        }
    }
}

// The first column of every row of a query, as text.
QStringList firstColumnTexts(Connection::Impl& c, ITransaction* tra, const QString& text) {
    fb::Status st;
    QStringList out;
    const QByteArray bytes = toWin1252(text);
    fb::Ref<IStatement> stmt(c.att()->prepare(&st, tra, 0, bytes.constData(), c.dialect,
                                              IStatement::PREPARE_PREFETCH_METADATA));
    fb::Ref<IMessageMetadata> meta(stmt->getOutputMetadata(&st));
    const codec::ColumnType t = columnType(meta.get(), st, 0);
    const unsigned off = meta->getOffset(&st, 0), nullOff = meta->getNullOffset(&st, 0);
    std::vector<unsigned char> buf(meta->getMessageLength(&st));
    fb::Ref<IResultSet> rs(stmt->openCursor(&st, tra, nullptr, nullptr, meta.get(), 0));
    while (rs->fetchNext(&st, buf.data()) == IStatus::RESULT_OK)
        out << fromWin1252(codec::decode(buf.data(), off, nullOff, t).toBytes());
    rs->close(&st);
    rs.release();
    stmt->free(&st);
    stmt.release();
    return out;
}

}  // namespace

struct RecordSet::Impl {
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

    void clear() {
        fields.clear();
        types.clear();
        offsets.clear();
        nullOffsets.clear();
        columns.clear();
        byName.clear();
        chunks.clear();
        rows.clear();
        rowsPerChunk = usedInChunk = 0;
        stride = 0;
        current = -1;
        buffer.reset();
        changes.clear();
        refusal.reset();
    }

    unsigned char* nextSlot() {
        if (chunks.empty() || usedInChunk == rowsPerChunk) {
            chunks.emplace_back(new unsigned char[rowsPerChunk * stride]);
            usedInChunk = 0;
        }
        return chunks.back().get() + (usedInChunk++) * stride;
    }

    const QSet<QString>& computedOf(const QString& relation, ITransaction* tra) {
        Connection::Impl& c = conn();
        auto it = c.computedColumns.find(relation);
        if (it != c.computedColumns.end()) return *it;
        const QStringList names = firstColumnTexts(
            c, tra,
            QStringLiteral("select trim(rf.rdb$field_name) from rdb$relation_fields rf "
                           "join rdb$fields f on f.rdb$field_name = rf.rdb$field_source "
                           "where f.rdb$computed_blr is not null and rf.rdb$relation_name = ") +
                quotedSql(relation));
        return *c.computedColumns.insert(relation, QSet<QString>(names.begin(), names.end()));
    }

    void open() {
        Connection::Impl& c = conn();
        fb::Status st;
        fb::Transaction tra = c.begin(true);
        const QByteArray text = toWin1252(self.commandText_);
        fb::Ref<IStatement> stmt(c.att()->prepare(&st, tra.get(), 0, text.constData(), c.dialect,
                                                  IStatement::PREPARE_PREFETCH_METADATA));
        fb::Ref<IMessageMetadata> out(stmt->getOutputMetadata(&st));
        const unsigned n = out->getCount(&st);
        if (n == 0) throw AppError(QStringLiteral("CommandText does not return a result set"));
        for (unsigned i = 0; i < n; ++i) {
            auto f = std::unique_ptr<Field>(new Field(self, static_cast<int>(i)));
            const codec::ColumnType t = columnType(out.get(), st, i);
            const QString relation = QString::fromUtf8(out->getRelation(&st, i));
            const QString column = QString::fromUtf8(out->getField(&st, i));
            f->name_ = QString::fromUtf8(out->getAlias(&st, i));
            if (f->name_.isEmpty()) f->name_ = column;
            f->type_ = codec::fieldTypeOf(t);
            f->scale_ = t.scale;
            f->size_ = static_cast<int>(t.length);
            f->required_ = !out->isNullable(&st, i);
            f->readOnly_ = relation.isEmpty() || column.isEmpty() ||
                           computedOf(relation, tra.get()).contains(column);
            types.push_back(t);
            offsets.push_back(out->getOffset(&st, i));
            nullOffsets.push_back(out->getNullOffset(&st, i));
            columns.push_back(f->readOnly_ ? QString() : column);
            if (!byName.contains(f->name_.toUpper()))
                byName.insert(f->name_.toUpper(), static_cast<int>(i));
            fields.push_back(std::move(f));
        }
        // Every row keeps the fetch buffer as it came, aligned for its widest member.
        stride = (out->getMessageLength(&st) + 7u) & ~7u;
        rowsPerChunk = std::max<size_t>(1, kChunkBytes / stride);
        fb::Ref<IResultSet> rs(stmt->openCursor(&st, tra.get(), nullptr, nullptr, out.get(), 0));
        for (;;) {
            unsigned char* slot = nextSlot();
            if (rs->fetchNext(&st, slot) != IStatus::RESULT_OK) {
                --usedInChunk;
                break;
            }
            rows.push_back(Row{slot, nullptr});
        }
        rs->close(&st);
        rs.release();
        stmt->free(&st);
        stmt.release();
        tra.commit();
    }

    // ---- reading ------------------------------------------------------------------------

    std::unique_ptr<RowExtra> materialize(const Row& r) const {
        auto x = std::make_unique<RowExtra>();
        x->cur.reserve(fields.size());
        for (int i = 0; i < count(); ++i)
            x->cur.push_back(
                isBlob(i) ? Value() : codec::decode(r.raw, offsets[i], nullOffsets[i], types[i]));
        x->assigned.assign(fields.size(), 0);
        x->fromRaw = true;
        return x;
    }

    QList<sql::WhereColumn> whereOf(const std::vector<Value>& asRead,
                                    std::vector<Param>* params) const {
        QList<sql::WhereColumn> where;
        for (int i = 0; i < count(); ++i) {
            if (isBlob(i) || columns[i].isEmpty()) continue;
            const codec::ColumnType& t = types[i];
            if ((t.sqlType == SQL_TEXT || t.sqlType == SQL_VARYING) && t.length >= kLongColumn)
                continue;
            where.push_back({columns[i], asRead[i].isNull()});
            if (!asRead[i].isNull() && params) params->push_back({asRead[i], name(i)});
        }
        return where;
    }

    // Fetches the row's BLOBs again by its values as read.
    void loadBlobs(RowExtra& x) {
        if (x.blobsLoaded) return;
        if (!x.inDatabase) {
            x.blobsLoaded = true;
            return;
        }
        QStringList blobNames;
        std::vector<int> blobFields;
        for (int i = 0; i < count(); ++i)
            if (isBlob(i) && !columns[i].isEmpty()) {
                blobNames << columns[i];
                blobFields.push_back(i);
            }
        if (blobFields.empty()) {
            x.blobsLoaded = true;
            return;
        }
        const QString table = sql::tableOfSelect(self.commandText_);
        std::vector<Param> params;
        const QString text = sql::blobSelectText(table, blobNames, whereOf(x.asRead(), &params));
        Connection::Impl& c = conn();
        fb::Status st;
        std::vector<Value> got;
        c.guarded([&] {
            fb::Transaction tra = c.begin(true);
            Prepared p = prepare(c, tra.get(), text);
            bindParams(p, c, tra.get(), params);
            fb::Ref<IMessageMetadata> out(p.stmt->getOutputMetadata(&st));
            std::vector<unsigned char> buf(out->getMessageLength(&st));
            fb::Ref<IResultSet> rs(
                p.stmt->openCursor(&st, tra.get(), p.in.get(), p.buffer.data(), out.get(), 0));
            if (rs->fetchNext(&st, buf.data()) != IStatus::RESULT_OK)
                throw DatabaseError(kRecordChanged);
            for (size_t k = 0; k < blobFields.size(); ++k) {
                short flag = 0;
                std::memcpy(&flag, buf.data() + out->getNullOffset(&st, static_cast<unsigned>(k)),
                            sizeof flag);
                if (flag) {
                    got.emplace_back();
                    continue;
                }
                const QByteArray bytes = fb::readBlob(
                    c.att(), tra.get(),
                    codec::blobId(buf.data(), out->getOffset(&st, static_cast<unsigned>(k))));
                const int f = blobFields[k];
                got.push_back(types[f].subType == 1 ? Value::text(bytes) : Value::binary(bytes));
            }
            rs->close(&st);
            rs.release();
            tra.commit();
        });
        for (size_t k = 0; k < blobFields.size(); ++k) {
            const int f = blobFields[k];
            if (!x.assigned[f]) x.cur[f] = got[k];
            if (!x.orig.empty()) x.orig[f] = got[k];
        }
        x.blobsLoaded = true;
    }

    bool editing() const {
        return self.state_ == State::Inserting || self.state_ == State::Editing;
    }

    Value read(int i) {
        if (editing()) {
            if (isBlob(i) && !buffer->assigned[i]) loadBlobs(*buffer);
            return buffer->cur[i];
        }
        if (current < 0 || current >= static_cast<int>(rows.size())) return {};
        Row& r = rows[current];
        if (isBlob(i)) {
            if (!r.extra) r.extra = materialize(r);
            loadBlobs(*r.extra);
        }
        if (r.extra) return r.extra->cur[i];
        return codec::decode(r.raw, offsets[i], nullOffsets[i], types[i]);
    }

    // NULL as stored, without fetching a BLOB only for that.
    bool isNull(int i) {
        if (editing()) {
            if (isBlob(i) && !buffer->blobsLoaded && !buffer->assigned[i]) loadBlobs(*buffer);
            return buffer->cur[i].isNull();
        }
        if (current < 0 || current >= static_cast<int>(rows.size())) return true;
        const Row& r = rows[current];
        if (r.extra && (!isBlob(i) || r.extra->blobsLoaded)) return r.extra->cur[i].isNull();
        if (isBlob(i) && r.raw && !r.extra) {
            short flag = 0;
            std::memcpy(&flag, r.raw + nullOffsets[i], sizeof flag);
            if (flag) return true;
        }
        return read(i).isNull();
    }

    void assign(int i, const Value& v) {
        if (!editing()) throw AppError(QStringLiteral("Dataset not in edit or insert mode"));
        Value converted = codec::convert(v, types[i], name(i));
        buffer->cur[i] = std::move(converted);
        buffer->assigned[i] = 1;
    }

    // ---- moving and posting --------------------------------------------------------------

    // Leaving a row: what was only read for it (its BLOBs) is let go.
    void leaveRow() {
        if (current < 0 || current >= static_cast<int>(rows.size())) return;
        Row& r = rows[current];
        if (!r.extra || r.extra->pending) return;
        if (r.extra->fromRaw && r.raw) {
            r.extra.reset();
            return;
        }
        if (r.extra->inDatabase && r.extra->blobsLoaded) {
            for (int i = 0; i < count(); ++i)
                if (isBlob(i)) r.extra->cur[i] = Value();
            r.extra->orig.clear();
            r.extra->blobsLoaded = false;
        }
    }

    void checkRequired() {
        for (int i = 0; i < count(); ++i) {
            const Field& f = *fields[i];
            if (f.required_ && !f.readOnly_ && isNull(i))
                throw AppError(QStringLiteral("Field '%1' must have a value").arg(f.name_));
        }
    }

    void post() {
        if (!editing()) return;
        checkRequired();
        std::unique_ptr<RowExtra> x = std::move(buffer);
        const bool inserting = self.state_ == State::Inserting;
        self.state_ = State::Browsing;
        if (!x->anyAssigned()) {
            // Nothing to write: an empty new row would only be refused by the database.
            return;
        }
        if (inserting) {
            x->pending = true;
            x->fromRaw = false;
            RowExtra* p = x.get();
            rows.insert(rows.begin() + insertAt, Row{nullptr, std::move(x)});
            current = insertAt;
            changes.push_back({true, p});
            self.eof_ = false;
            return;
        }
        Row& r = rows[current];
        if (!r.extra) r.extra = materialize(r);
        RowExtra& target = *r.extra;
        if (!target.pending && target.orig.empty()) target.orig = target.cur;
        target.cur = std::move(x->cur);
        for (int i = 0; i < count(); ++i) target.assigned[i] |= x->assigned[i];
        if (x->blobsLoaded && !target.blobsLoaded) {
            // The buffer fetched the BLOBs: those read become the values as read too.
            for (int i = 0; i < count(); ++i)
                if (isBlob(i) && !x->assigned[i] && !target.orig.empty())
                    target.orig[i] = target.cur[i];
        }
        target.blobsLoaded = x->blobsLoaded || target.blobsLoaded;
        target.fromRaw = false;
        if (!target.pending) {
            target.pending = true;
            changes.push_back({!target.inDatabase, &target});
        }
    }

    void finishRow() {
        if (!editing()) return;
        if (buffer->anyAssigned()) {
            post();
        } else {
            cancel();
        }
    }

    void cancel() {
        buffer.reset();
        if (editing()) self.state_ = State::Browsing;
        if (rows.empty()) self.eof_ = true;
    }

    void startInsert(int at) {
        finishRow();
        leaveRow();
        buffer = std::make_unique<RowExtra>();
        buffer->cur.assign(fields.size(), Value());
        buffer->assigned.assign(fields.size(), 0);
        buffer->inDatabase = false;
        buffer->blobsLoaded = true;
        insertAt = at;
        self.state_ = State::Inserting;
    }

    void startEdit() {
        finishRow();
        if (rows.empty()) {
            startInsert(0);
            return;
        }
        Row& r = rows[current];
        auto x = r.extra ? std::make_unique<RowExtra>(*r.extra) : materialize(r);
        x->assigned.assign(fields.size(), 0);
        buffer = std::move(x);
        self.state_ = State::Editing;
    }

    // ---- write-back ---------------------------------------------------------------------

    // The statement and parameters of one change; empty text when there is nothing to send.
    QString statementOf(const Change& ch, const QString& table, std::vector<Param>* params) const {
        const RowExtra& x = *ch.row;
        QStringList names;
        for (int i = 0; i < count(); ++i) {
            if (!x.assigned[i] || columns[i].isEmpty()) continue;
            names << columns[i];
            if (params) params->push_back({x.cur[i], name(i)});
        }
        if (names.isEmpty()) return {};
        if (ch.insert) return sql::insertText(table, names);
        const QList<sql::WhereColumn> where = whereOf(x.asRead(), params);
        return sql::updateText(table, names, where);
    }

    QString tableName() const {
        const QString table = sql::tableOfSelect(self.commandText_);
        if (table.isEmpty())
            throw AppError(QStringLiteral("Unable to find the table to update in: ") +
                           self.commandText_);
        return table;
    }

    int applyUpdates(int maxErrors) {
        finishRow();
        refusal.reset();
        if (changes.empty()) return 0;
        const QString table = tableName();
        self.connection_->Open();
        Connection::Impl& c = conn();
        std::optional<fb::Transaction> own;
        ITransaction* tra = c.activeTransaction;
        if (!tra) {
            own.emplace(c.begin(false));
            tra = own->get();
        }
        std::unordered_map<std::string, Prepared> cache;
        std::vector<char> refused(changes.size(), 0);
        int refusedCount = 0;
        fb::Status st;
        for (size_t k = 0; k < changes.size(); ++k) {
            const Change& ch = changes[k];
            QString message, sqlState;
            try {
                std::vector<Param> params;
                const QString text = statementOf(ch, table, &params);
                if (text.isEmpty()) continue;
                const std::string key = text.toStdString();
                auto it = cache.find(key);
                if (it == cache.end())
                    it = cache.emplace(key, fb::guarded([&] { return prepare(c, tra, text); }))
                             .first;
                Prepared& p = it->second;
                const ISC_UINT64 affected = fb::guarded([&]() -> ISC_UINT64 {
                    bindParams(p, c, tra, params);
                    p.stmt->execute(&st, tra, p.in.get(), p.buffer.data(), nullptr, nullptr);
                    // The server counts every INSERT that does not fail as one row (even one
                    // that a view's trigger drops), so asking would only cost a round trip.
                    return ch.insert ? 1 : p.stmt->getAffectedRecords(&st);
                });
                if (affected == 0) {
                    message = kRecordChanged;
                } else if (!ch.insert && affected > 1) {
                    message = kMoreThanOne;
                } else {
                    continue;
                }
            } catch (const DatabaseError& e) {
                // A lost attachment is no refused row: the write-back as a whole has failed.
                if (e.connectionLost()) throw;
                message = e.message();
                sqlState = e.sqlState();
            } catch (const AppError& e) {
                message = e.message();
            }
            refused[k] = 1;
            ++refusedCount;
            if (!refusal) {
                Refusal r;
                r.changeIndex = static_cast<int>(k);
                r.message = message;
                r.sqlState = sqlState;
                r.firstColumn = ch.row->cur.empty() ? Value() : ch.row->cur[0];
                refusal = r;
            }
            if (maxErrors >= 0 && refusedCount > maxErrors) break;
        }
        cache.clear();
        if (maxErrors >= 0 && refusedCount > maxErrors) {
            // Undo the whole call; the change log stays exactly as it was.
            if (own) own->rollback();
            return refusedCount;
        }
        if (own) own->commit();
        std::vector<Change> kept;
        for (size_t k = 0; k < changes.size(); ++k) {
            if (refused[k]) {
                kept.push_back(changes[k]);
                continue;
            }
            RowExtra& x = *changes[k].row;
            x.pending = false;
            x.inDatabase = true;
            x.orig.clear();
            std::fill(x.assigned.begin(), x.assigned.end(), 0);
        }
        changes = std::move(kept);
        if (refusal) {
            for (size_t k = 0, n = 0; k < refused.size(); ++k)
                if (refused[k]) {
                    refusal->changeIndex = static_cast<int>(n);
                    break;
                } else {
                    ++n;
                }
        }
        return refusedCount;
    }

    void dropChange(int index) {
        if (index < 0 || index >= static_cast<int>(changes.size()))
            throw AppError(QStringLiteral("No pending change %1").arg(index));
        RowExtra* x = changes[index].row;
        const bool insert = changes[index].insert;
        changes.erase(changes.begin() + index);
        x->pending = false;
        std::fill(x->assigned.begin(), x->assigned.end(), 0);
        if (insert) {
            // The new row never reached the database: it goes as if it had been cancelled.
            for (size_t r = 0; r < rows.size(); ++r)
                if (rows[r].extra.get() == x) {
                    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(r));
                    if (current > static_cast<int>(r) || current >= static_cast<int>(rows.size()))
                        --current;
                    if (rows.empty()) self.eof_ = true;
                    break;
                }
        } else if (!x->orig.empty()) {
            x->cur = std::move(x->orig);
            x->orig.clear();
        }
        refusal.reset();
    }
};

// ---- RecordSet -------------------------------------------------------------------------

RecordSet::RecordSet(Connection& connection)
    : connection_(&connection), impl_(std::make_unique<Impl>(*this)) {}

RecordSet::~RecordSet() = default;

void RecordSet::setCommandText(const QString& sql) {
    commandText_ = sql;
}

void RecordSet::Open() {
    if (active()) Close();
    connection_->Open();
    try {
        connection_->impl().guarded([&] { impl_->open(); });
    } catch (...) {
        impl_->clear();
        throw;
    }
    state_ = State::Browsing;
    impl_->current = impl_->rows.empty() ? -1 : 0;
    eof_ = impl_->rows.empty();
}

void RecordSet::Close() {
    impl_->clear();
    state_ = State::Closed;
    eof_ = true;
}

namespace {
[[noreturn]] void closedError() {
    throw AppError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}
}  // namespace

void RecordSet::First() {
    if (!active()) closedError();
    impl_->finishRow();
    impl_->leaveRow();
    impl_->current = impl_->rows.empty() ? -1 : 0;
    eof_ = impl_->rows.empty();
}

void RecordSet::Next() {
    if (!active()) closedError();
    impl_->finishRow();
    const int last = static_cast<int>(impl_->rows.size()) - 1;
    if (impl_->current >= last) {
        eof_ = true;
        return;
    }
    impl_->leaveRow();
    ++impl_->current;
    eof_ = false;
}

int RecordSet::RecordCount() const {
    return static_cast<int>(impl_->rows.size());
}

int RecordSet::fieldCount() const {
    return impl_->count();
}

Field& RecordSet::Fields(int index) {
    if (index < 0 || index >= impl_->count())
        throw AppError(QStringLiteral("List index out of bounds (%1)").arg(index));
    return *impl_->fields[index];
}

Field* RecordSet::FindField(const QString& name) {
    const auto it = impl_->byName.constFind(name.toUpper());
    return it == impl_->byName.constEnd() ? nullptr : impl_->fields[*it].get();
}

Field& RecordSet::FieldByName(const QString& name) {
    Field* f = FindField(name);
    if (!f) throw AppError(QStringLiteral("Field '%1' not found").arg(name));
    return *f;
}

void RecordSet::Append() {
    if (!active()) closedError();
    impl_->startInsert(0);
    impl_->insertAt = static_cast<int>(impl_->rows.size());
    eof_ = false;
}

void RecordSet::Insert() {
    if (!active()) closedError();
    impl_->startInsert(0);
    impl_->insertAt = std::max(0, impl_->current);
    eof_ = false;
}

void RecordSet::Edit() {
    if (!active()) closedError();
    impl_->startEdit();
}

void RecordSet::Post() {
    if (!active()) closedError();
    impl_->post();
}

void RecordSet::Cancel() {
    impl_->cancel();
}

int RecordSet::ApplyUpdates(int MaxErrors) {
    if (!active()) closedError();
    return connection_->impl().watch([&] { return impl_->applyUpdates(MaxErrors); });
}

int RecordSet::pendingCount() const {
    return static_cast<int>(impl_->changes.size());
}

const std::optional<Refusal>& RecordSet::lastRefusal() const {
    return impl_->refusal;
}

void RecordSet::dropPendingChange(int changeIndex) {
    impl_->dropChange(changeIndex);
}

QString RecordSet::pendingStatementText(int changeIndex) const {
    if (changeIndex < 0 || changeIndex >= static_cast<int>(impl_->changes.size()))
        throw AppError(QStringLiteral("No pending change %1").arg(changeIndex));
    return impl_->statementOf(impl_->changes[changeIndex], impl_->tableName(), nullptr);
}

// ---- Field -----------------------------------------------------------------------------

Value Field::AsVariant() const {
    Value v = owner_->impl_->read(index_);
    if (type_ == FieldType::BinaryBlob && !v.isNull() && v.bytes().isEmpty()) return {};
    if (type_ == FieldType::TextBlob && v.isNull()) return Value::text({});
    return v;
}

void Field::setAsVariant(const Value& value) {
    owner_->impl_->assign(index_, value);
}

QString Field::AsString() const {
    return AsVariant().toString();
}

void Field::setAsString(const QString& text) {
    const bool textual = type_ == FieldType::Char || type_ == FieldType::VarChar ||
                         type_ == FieldType::TextBlob || type_ == FieldType::BinaryBlob;
    // Empty text clears a number or a date, as an operator would expect.
    if (!textual && trimmed(text).isEmpty()) {
        setAsVariant(Value());
        return;
    }
    setAsVariant(Value::fromString(text));
}

bool Field::isNull() const {
    return owner_->impl_->isNull(index_);
}

qint64 Field::BlobSize() const {
    const Value v = owner_->impl_->read(index_);
    return v.isNull() ? 0 : v.bytes().size();
}

void Field::SaveToFile(const QString& path) const {
    const Value v = owner_->impl_->read(index_);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw AppError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    if (!v.isNull() && file.write(v.bytes()) != v.bytes().size())
        throw AppError(
            QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
}

void Field::LoadFromStream(QIODevice& stream) {
    if (!stream.isSequential()) stream.seek(0);
    const QByteArray bytes = stream.readAll();
    setAsVariant(type_ == FieldType::TextBlob ? Value::text(bytes) : Value::binary(bytes));
}

}  // namespace patrimonio
