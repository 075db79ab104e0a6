#include "db/RecordSet.h"

#include "core/Errors.h"
#include "core/Text.h"
#include "db/BlobFetch.h"
#include "db/ChangeSender.h"
#include "db/ComputedColumns.h"
#include "db/RecordSetImpl.h"
#include "db/RowSource.h"

namespace patrimonio {

using namespace Firebird;
using namespace detail;

void RecordSet::Impl::clear() {
    sender.dropStatements();
    fields.clear();
    layout = {};
    columns.clear();
    byName.clear();
    clearRows();
}

void RecordSet::Impl::clearRows() {
    sender.allowPackets();
    rows.clear();
    extras.clear();
    current = kNoRow;
    buffer.reset();
    insertBefore = kNoRow;
    changes.clear();
    refusal.reset();
    snapshot.reset();
}

void RecordSet::Impl::open(detail::RowSource& source) {
    fb::Status st;
    ITransaction* tra = source.transaction();
    IMessageMetadata* out = source.metadata();
    const unsigned n = out->getCount(&st);
    if (n == 0) throw AppError(QStringLiteral("CommandText does not return a result set"));
    layout = MessageLayout::of(out);
    for (unsigned i = 0; i < n; ++i) {
        auto f = std::unique_ptr<Field>(new Field(self, static_cast<int>(i)));
        const codec::ColumnType& t = layout.types[i];
        const QString relation = QString::fromUtf8(out->getRelation(&st, i));
        const QString column = QString::fromUtf8(out->getField(&st, i));
        f->name_ = QString::fromUtf8(out->getAlias(&st, i));
        if (f->name_.isEmpty()) f->name_ = column;
        f->type_ = codec::fieldTypeOf(t);
        f->scale_ = t.scale;
        f->size_ = static_cast<int>(t.length);
        f->required_ = !out->isNullable(&st, i);
        f->readOnly_ = relation.isEmpty() || column.isEmpty() ||
                       computedColumns(conn(), tra, relation).contains(column);
        columns.push_back(f->readOnly_ ? QString() : column);
        if (!byName.contains(f->name_.toUpper()))
            byName.insert(f->name_.toUpper(), static_cast<int>(i));
        fields.push_back(std::move(f));
    }
    rows.fetch(layout.length, [&](unsigned char* row) { return source.fetch(row); });
    source.finish();
}

// ---- rows -------------------------------------------------------------------------------

unsigned char* RecordSet::Impl::pack(const RowExtra& x, unsigned char flags) {
    return rows.keep(packing.pack(x.cur, x.assigned, flags));
}

void RecordSet::Impl::releaseBlobs(std::uint32_t row) {
    if (!rows.isNew(row) || !rows.data(row)) return;
    packing.releaseBlobs(rows.data(row));
}

void RecordSet::Impl::forgetBlobs(std::uint32_t row) {
    if (!rows.isNew(row) || extras.count(row)) return;
    const unsigned char flags = rows.data(row)[0];
    if ((flags & detail::kPending) || !(flags & detail::kInDatabase)) return;
    releaseBlobs(row);
}

Value RecordSet::Impl::heldValue(std::uint32_t row, int i) const {
    if (rows.isNew(row)) return packing.field(rows.data(row), i, nullptr);
    if (isBlob(i)) return {};
    return layout.read(rows.data(row), i);
}

std::unique_ptr<RowExtra> RecordSet::Impl::materialize(std::uint32_t row) const {
    auto x = std::make_unique<RowExtra>();
    x->cur.reserve(fields.size());
    x->assigned.assign(fields.size(), 0);
    x->fromRaw = true;
    bool blobsHere = true;
    if (rows.isNew(row)) {
        const unsigned char flags = rows.data(row)[0];
        x->pending = (flags & detail::kPending) != 0;
        x->inDatabase = (flags & detail::kInDatabase) != 0;
        const unsigned char* p = rows.data(row) + 1;
        for (int i = 0; i < count(); ++i) {
            unsigned char tag = 0;
            x->cur.push_back(packing.read(p, i, &tag));
            if (tag == detail::kBlobElsewhere) blobsHere = false;
            if (x->pending && !x->inDatabase) x->assigned[i] = tag != detail::kUnassigned;
        }
    } else {
        for (int i = 0; i < count(); ++i) {
            x->cur.push_back(heldValue(row, i));
            if (isBlob(i)) blobsHere = false;
        }
    }
    x->blobsLoaded = blobsHere;
    return x;
}

QList<sql::WhereColumn> RecordSet::Impl::whereOf(const std::vector<Value>& asRead,
                                                 std::vector<Param>* params) const {
    QList<sql::WhereColumn> where;
    for (int i = 0; i < count(); ++i) {
        if (columns[i].isEmpty() || !layout.types[i].kind->comparable(layout.types[i])) continue;
        where.push_back({columns[i], asRead[i].isNull()});
        if (!asRead[i].isNull() && params) params->push_back({asRead[i], name(i)});
    }
    return where;
}

void RecordSet::Impl::loadBlobs(RowExtra& x, std::uint32_t row) {
    if (x.blobsLoaded) return;
    if (!x.inDatabase) {
        x.blobsLoaded = true;
        return;
    }
    QStringList blobNames;
    std::vector<int> blobFields;
    for (int i = 0; i < count(); ++i)
        if (isBlob(i) && !columns[i].isEmpty() && (x.blobGiven.empty() || !x.blobGiven[i])) {
            blobNames << columns[i];
            blobFields.push_back(i);
        }
    if (blobFields.empty()) {
        x.blobsLoaded = true;
        return;
    }
    if (blobsFromSnapshot(x, blobFields, row)) return;
    std::vector<Param> params;
    const QString text = sql::blobSelectText(sql::tableOfSelect(self.commandText_), blobNames,
                                             whereOf(x.asRead(), &params));
    std::vector<FieldType> blobTypes;
    for (const int f : blobFields) blobTypes.push_back(fields[f]->type_);
    takeBlobs(x, blobFields, fetchBlobsByValues(conn(), text, params, blobTypes));
}

// A page of a cursor still open reads its BLOBs by their ids in the cursor's snapshot: one
// round trip fewer than finding the row again, and a row that another program changed since
// the snapshot still gives the photo it had when it was read.
bool RecordSet::Impl::blobsFromSnapshot(RowExtra& x, const std::vector<int>& blobFields,
                                        std::uint32_t row) {
    const std::shared_ptr<RowCursor::State> cursor = snapshot.lock();
    if (!cursor || !cursor->transaction()) return false;
    const unsigned char* raw = rowData(row);
    if (!raw) return false;
    takeBlobs(x, blobFields, readBlobsById(conn(), cursor->transaction(), raw, layout, blobFields));
    return true;
}

void RecordSet::Impl::takeBlobs(RowExtra& x, const std::vector<int>& blobFields,
                                const std::vector<Value>& got) {
    for (size_t k = 0; k < blobFields.size(); ++k) {
        const int f = blobFields[k];
        if (!x.assigned[f]) x.cur[f] = got[k];
        if (!x.orig.empty()) x.orig[f] = got[k];
    }
    x.blobsLoaded = true;
}

bool RecordSet::Impl::editing() const {
    return self.state_ == State::Inserting || self.state_ == State::Editing;
}

Value RecordSet::Impl::read(int i) {
    if (editing()) {
        if (isBlob(i) && !buffer->assigned[i]) loadBlobs(*buffer, current);
        return buffer->cur[i];
    }
    return readAt(current, i);
}

Value RecordSet::Impl::readAt(std::uint32_t row, int i) {
    if (row == kNoRow) return {};
    RowExtra* x = extraOf(row);
    if (isBlob(i)) {
        if (!x) {
            unsigned char tag = detail::kUnassigned;
            if (rows.isNew(row)) {
                Value v = packing.field(rows.data(row), i, &tag);
                if (tag != detail::kBlobElsewhere) return v;
            }
            x = extras.emplace(row, materialize(row)).first->second.get();
        }
        loadBlobs(*x, row);
    }
    if (x) return x->cur[i];
    return heldValue(row, i);
}

bool RecordSet::Impl::isNull(int i) {
    if (editing()) {
        if (isBlob(i) && !buffer->blobsLoaded && !buffer->assigned[i]) loadBlobs(*buffer, current);
        return buffer->cur[i].isNull();
    }
    if (current == kNoRow) return true;
    const RowExtra* x = extraOf(current);
    if (x && (!isBlob(i) || x->blobsLoaded)) return x->cur[i].isNull();
    if (!x && isBlob(i)) {
        if (rows.isNew(current)) {
            unsigned char tag = detail::kUnassigned;
            packing.field(rows.data(current), i, &tag);
            if (tag != detail::kBlobElsewhere) return tag != detail::kValue;
        } else {
            if (layout.isNull(rows.data(current), i)) return true;
        }
    }
    if (!x && !isBlob(i)) return heldValue(current, i).isNull();
    return read(i).isNull();
}

void RecordSet::Impl::assign(int i, const Value& v) {
    if (!editing()) throw AppError(QStringLiteral("Dataset not in edit or insert mode"));
    Value converted = codec::convert(v, layout.types[i], name(i));
    buffer->cur[i] = std::move(converted);
    buffer->assigned[i] = 1;
}

// ---- moving and posting ----------------------------------------------------------------

void RecordSet::Impl::leaveRow() {
    if (current == kNoRow) return;
    const auto it = extras.find(current);
    if (it == extras.end()) {
        forgetBlobs(current);
        return;
    }
    RowExtra& x = *it->second;
    if (x.pending) return;
    if (x.fromRaw) {
        extras.erase(it);
        forgetBlobs(current);
        return;
    }
    if (x.inDatabase && x.blobsLoaded) {
        for (int i = 0; i < count(); ++i)
            if (isBlob(i)) x.cur[i] = Value();
        x.orig.clear();
        x.blobsLoaded = false;
        x.blobGiven.clear();
    }
}

void RecordSet::Impl::checkRequired() {
    for (int i = 0; i < count(); ++i) {
        const Field& f = *fields[i];
        if (f.required_ && !f.readOnly_ && isNull(i))
            throw AppError(QStringLiteral("Field '%1' must have a value").arg(f.name_));
    }
}

void RecordSet::Impl::post() {
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
        current = rows.link(pack(*x, detail::kPending), insertBefore);
        changes.push_back({true, current});
        self.eof_ = false;
        return;
    }
    if (pendingInsert(current)) {
        // A new row edited again before it was written: it stays one INSERT, now naming the
        // fields of both edits.
        std::vector<unsigned char> tags(fields.size());
        packing.tags(rows.data(current), tags.data());
        for (int i = 0; i < count(); ++i)
            if (tags[i] != detail::kUnassigned) x->assigned[i] = 1;
        releaseBlobs(current);
        rows.setData(current, pack(*x, detail::kPending));
        return;
    }
    auto& slot = extras[current];
    if (!slot) slot = materialize(current);
    RowExtra& target = *slot;
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
        changes.push_back({!target.inDatabase, current});
    }
}

void RecordSet::Impl::finishRow() {
    if (!editing()) return;
    if (buffer->anyAssigned()) {
        post();
    } else {
        cancel();
    }
}

void RecordSet::Impl::cancel() {
    buffer.reset();
    if (editing()) self.state_ = State::Browsing;
    if (rows.count() == 0) self.eof_ = true;
}

void RecordSet::Impl::startInsert() {
    finishRow();
    leaveRow();
    buffer = std::make_unique<RowExtra>();
    buffer->cur.assign(fields.size(), Value());
    buffer->assigned.assign(fields.size(), 0);
    buffer->inDatabase = false;
    buffer->blobsLoaded = true;
    insertBefore = kNoRow;
    self.state_ = State::Inserting;
}

void RecordSet::Impl::startEdit() {
    finishRow();
    if (rows.count() == 0) {
        startInsert();
        return;
    }
    const RowExtra* held = extraOf(current);
    auto x = held ? std::make_unique<RowExtra>(*held) : materialize(current);
    x->assigned.assign(fields.size(), 0);
    buffer = std::move(x);
    self.state_ = State::Editing;
}

// ---- write-back --------------------------------------------------------------------------

namespace {

// The change log as the sender asks for it.
class ChangeLog final : public PendingChanges {
public:
    ChangeLog(const RecordSet::Impl& recordSet, const QString& table)
        : rs_(recordSet), table_(table) {}
    size_t size() const override { return rs_.changes.size(); }
    bool isInsert(size_t k) const override { return rs_.changes[k].insert; }
    std::string namedFields(size_t k) const override { return rs_.namedFields(rs_.changes[k]); }
    QString statement(size_t k, std::vector<Param>* params) const override {
        return rs_.statementOf(rs_.changes[k], table_, params);
    }
    void values(size_t k, const std::vector<int>& named,
                std::vector<Param>* params) const override {
        const std::unique_ptr<RowExtra> x = rs_.changedRow(rs_.changes[k]);
        for (int i : named) params->push_back({x->cur[i], rs_.name(i)});
    }

private:
    const RecordSet::Impl& rs_;
    const QString& table_;
};

}  // namespace

std::unique_ptr<RecordSet::Impl::RowExtra> RecordSet::Impl::changedRow(const Change& ch) const {
    const auto it = extras.find(ch.row);
    if (it != extras.end()) return std::make_unique<RowExtra>(*it->second);
    return materialize(ch.row);
}

QString RecordSet::Impl::statementOf(const Change& ch, const QString& table,
                                     std::vector<Param>* params) const {
    const std::unique_ptr<RowExtra> x = changedRow(ch);
    QStringList names;
    for (int i = 0; i < count(); ++i) {
        if (!x->assigned[i] || columns[i].isEmpty()) continue;
        names << columns[i];
        if (params) params->push_back({x->cur[i], name(i)});
    }
    if (names.isEmpty()) return {};
    if (ch.insert) return sql::insertText(table, names);
    const QList<sql::WhereColumn> where = whereOf(x->asRead(), params);
    return sql::updateText(table, names, where);
}

QString RecordSet::Impl::tableName() const {
    const QString table = sql::tableOfSelect(self.commandText_);
    if (table.isEmpty())
        throw AppError(QStringLiteral("Unable to find the table to update in: ") +
                       self.commandText_);
    return table;
}

std::string RecordSet::Impl::namedFields(const Change& ch) const {
    std::string mask(static_cast<size_t>(count()), '0');
    if (const RowExtra* x = extraOf(ch.row)) {
        for (int i = 0; i < count(); ++i)
            if (x->assigned[i] && !columns[i].isEmpty()) mask[i] = '1';
        return mask;
    }
    std::vector<unsigned char> tags(static_cast<size_t>(count()));
    packing.tags(rows.data(ch.row), tags.data());
    for (int i = 0; i < count(); ++i)
        if (tags[i] != kUnassigned && !columns[i].isEmpty()) mask[i] = '1';
    return mask;
}

int RecordSet::Impl::applyUpdates(int maxErrors) {
    finishRow();
    refusal.reset();
    sender.startWriteBack();
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
    const Sent sent = sender.send(tra, table, columns, ChangeLog(*this, table), maxErrors);
    if (sent.refusedCount > 0) {
        const std::unique_ptr<RowExtra> x = changedRow(changes[sent.firstRefused]);
        Refusal f;
        f.changeIndex = static_cast<int>(sent.firstRefused);
        f.message = sent.message;
        f.sqlState = sent.sqlState;
        f.firstColumn = x->cur.empty() ? Value() : x->cur[0];
        refusal = f;
    }
    if (sent.stopped) {
        // Undo the whole call; the change log stays exactly as it was.
        if (own) own->rollback();
        return sent.refusedCount;
    }
    if (own) own->commit();
    if (sent.refusedCount == 0) sender.allowPackets();
    std::vector<Change> kept;
    for (size_t k = 0; k < changes.size(); ++k) {
        if (sent.refused[k]) {
            kept.push_back(changes[k]);
            continue;
        }
        const std::uint32_t row = changes[k].row;
        if (RowExtra* x = extraOf(row)) {
            x->pending = false;
            x->inDatabase = true;
            x->orig.clear();
            std::fill(x->assigned.begin(), x->assigned.end(), 0);
        }
        if (rows.isNew(row)) {
            rows.data(row)[0] = kInDatabase;
            // A written row keeps its values; its BLOBs are fetched again if read.
            if (row != current) forgetBlobs(row);
        }
    }
    changes = std::move(kept);
    if (refusal) {
        for (size_t k = 0, n = 0; k < sent.refused.size(); ++k)
            if (sent.refused[k]) {
                refusal->changeIndex = static_cast<int>(n);
                break;
            } else {
                ++n;
            }
    }
    return sent.refusedCount;
}

void RecordSet::Impl::dropChange(int index) {
    if (index < 0 || index >= static_cast<int>(changes.size()))
        throw AppError(QStringLiteral("No pending change %1").arg(index));
    const Change ch = changes[static_cast<size_t>(index)];
    changes.erase(changes.begin() + index);
    if (ch.insert) {
        // The new row never reached the database: it goes as if it had been cancelled.
        releaseBlobs(ch.row);
        extras.erase(ch.row);
        if (current == ch.row)
            current = rows.next(ch.row) != kNoRow ? rows.next(ch.row) : rows.prev(ch.row);
        rows.unlink(ch.row);
        if (rows.count() == 0) {
            current = kNoRow;
            self.eof_ = true;
        }
    } else if (RowExtra* x = extraOf(ch.row)) {
        x->pending = false;
        std::fill(x->assigned.begin(), x->assigned.end(), 0);
        if (!x->orig.empty()) {
            x->cur = std::move(x->orig);
            x->orig.clear();
        }
    }
    refusal.reset();
}

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
    load([&] {
        detail::QueryRows rows(connection_->impl(), toWin1252(commandText_));
        impl_->open(rows);
    });
}

void RecordSet::openPage(RowCursor& cursor, int rows) {
    if (&cursor.connection() != connection_)
        throw AppError(QStringLiteral("The cursor belongs to another connection"));
    if (active()) Close();
    commandText_ = cursor.sql();
    load([&] {
        detail::CursorPage page(cursor.state(), rows);
        impl_->open(page);
        impl_->snapshot = cursor.shared();
    });
}

void RecordSet::load(const std::function<void()>& fill) {
    try {
        connection_->impl().guarded(fill);
    } catch (...) {
        impl_->clear();
        throw;
    }
    state_ = State::Browsing;
    impl_->current = impl_->rows.head();
    eof_ = impl_->rows.count() == 0;
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

void RecordSet::emptyDataSet() {
    if (!active()) closedError();
    impl_->clearRows();
    state_ = State::Browsing;
    eof_ = true;
}

void RecordSet::First() {
    if (!active()) closedError();
    impl_->finishRow();
    impl_->leaveRow();
    impl_->current = impl_->rows.head();
    eof_ = impl_->rows.count() == 0;
}

void RecordSet::Next() {
    if (!active()) closedError();
    impl_->finishRow();
    if (impl_->current == kNoRow || impl_->current == impl_->rows.tail()) {
        eof_ = true;
        return;
    }
    impl_->leaveRow();
    impl_->current = impl_->rows.next(impl_->current);
    eof_ = false;
}

int RecordSet::RecordCount() const {
    return impl_->rows.count();
}

int RecordSet::fieldCount() const {
    return impl_->count();
}

Field& RecordSet::Fields(int index) {
    if (index < 0 || index >= impl_->count())
        throw AppError(QStringLiteral("List index out of bounds (%1)").arg(index));
    return *impl_->fields[index];
}

Field* RecordSet::findField(const QString& name) {
    const auto it = impl_->byName.constFind(name.toUpper());
    return it == impl_->byName.constEnd() ? nullptr : impl_->fields[*it].get();
}

Field& RecordSet::FieldByName(const QString& name) {
    Field* f = findField(name);
    if (!f) throw AppError(QStringLiteral("Field '%1' not found").arg(name));
    return *f;
}

void RecordSet::Append() {
    if (!active()) closedError();
    impl_->startInsert();
    eof_ = false;
}

void RecordSet::Insert() {
    if (!active()) closedError();
    impl_->startInsert();
    impl_->insertBefore = impl_->current;
    eof_ = false;
}

void RecordSet::giveBlob(int index, const Value& value) {
    if (!active()) closedError();
    Impl& d = *impl_;
    if (index < 0 || index >= fieldCount() || !d.isBlob(index)) (void)Fields(index);
    if (d.editing() || !d.rowData(d.current)) return;
    detail::RowExtra* x = d.extraOf(d.current);
    if (!x) x = d.extras.emplace(d.current, d.materialize(d.current)).first->second.get();
    if (x->blobsLoaded) return;
    if (x->blobGiven.empty()) x->blobGiven.assign(d.count(), 0);
    x->blobGiven[index] = 1;
    if (!x->assigned[index]) x->cur[index] = value;
    if (!x->orig.empty()) x->orig[index] = value;
}

Value RecordSet::valueAhead(int ahead, int index) {
    if (!active()) closedError();
    if (index < 0 || index >= fieldCount()) (void)Fields(index);  // raises: out of range
    if (ahead < 0) return {};
    std::uint32_t row = impl_->current;
    for (int k = 0; k < ahead && row != detail::kNoRow; ++k) row = impl_->rows.next(row);
    return impl_->readAt(row, index);
}

void RecordSet::Edit() {
    if (!active()) closedError();
    impl_->startEdit();
}

void RecordSet::Post() {
    if (!active()) closedError();
    impl_->post();
}

void RecordSet::cancel() {
    impl_->cancel();
}

int RecordSet::ApplyUpdates(int MaxErrors) {
    if (!active()) closedError();
    return connection_->impl().watch([&] { return impl_->applyUpdates(MaxErrors); });
}

int RecordSet::pendingCount() const {
    return static_cast<int>(impl_->changes.size());
}

int RecordSet::lastWriteBackStatements() const {
    return impl_->sender.statementsSent();
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

}  // namespace patrimonio
