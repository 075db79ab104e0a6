#include "db/RecordSet.h"

#include <QFile>
#include <cstring>
#include <limits>

#include "core/Errors.h"
#include "core/Text.h"
#include "db/BlobFetch.h"
#include "db/ComputedColumns.h"
#include "db/RecordSetImpl.h"
#include "db/RowSource.h"

namespace patrimonio {

using namespace Firebird;
using namespace detail;

RecordSet::Impl::~Impl() {
    dropStatements();
}

void RecordSet::Impl::dropStatements() {
    packetsRefused = false;
    packetLimits.clear();
    if (statements.empty()) return;
    // Statements of an attachment that was replaced go with it: only released, never freed.
    const bool sameAttachment = conn().attachmentNumber == statementsAttachment;
    for (auto& [key, p] : statements)
        if (!sameAttachment) p.stmt.abandon();
    statements.clear();
}

void RecordSet::Impl::clear() {
    dropStatements();
    fields.clear();
    layout = {};
    columns.clear();
    byName.clear();
    clearRows();
}

void RecordSet::Impl::clearRows() {
    rowsOneByOne = false;
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
        if (isBlob(i) && !columns[i].isEmpty()) {
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

void RecordSet::OpenPage(RowCursor& cursor, int rows) {
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

void RecordSet::EmptyDataSet() {
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
    impl_->startInsert();
    eof_ = false;
}

void RecordSet::Insert() {
    if (!active()) closedError();
    impl_->startInsert();
    impl_->insertBefore = impl_->current;
    eof_ = false;
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

void RecordSet::Cancel() {
    impl_->cancel();
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
    // Empty text clears a number or a date, as an operator would expect.
    if (!owner_->impl_->layout.types[index_].kind->textual && trimmed(text).isEmpty()) {
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
    setAsVariant(blobValue(type_, bytes));
}

}  // namespace patrimonio
