#include "db/PageBlobs.h"

#include "db/ConnectionImpl.h"
#include "db/RecordSet.h"
#include "db/RecordSetImpl.h"
#include "db/RowSource.h"

namespace patrimonio {

struct PageBlobs::State {
    // The snapshot stays open while its BLOBs may be read, even past the cursor's own end.
    std::shared_ptr<RowCursor::State> cursor;
    fb::Ref<Firebird::IAttachment> attachment;  // a reference of this reader's own
    FieldType type = FieldType::BinaryBlob;
    std::vector<std::optional<ISC_QUAD>> ids;
};

PageBlobs::PageBlobs() = default;
PageBlobs::~PageBlobs() = default;
PageBlobs::PageBlobs(PageBlobs&&) noexcept = default;
PageBlobs& PageBlobs::operator=(PageBlobs&&) noexcept = default;

PageBlobs PageBlobs::of(RecordSet& rows, int field) {
    PageBlobs blobs;
    if (!rows.active() || field < 0 || field >= rows.fieldCount()) return blobs;
    RecordSet::Impl& impl = *rows.impl_;
    if (!impl.isBlob(field)) return blobs;
    std::shared_ptr<RowCursor::State> cursor = impl.snapshot.lock();
    if (!cursor || !cursor->transaction() || !impl.conn().att()) return blobs;
    auto state = std::make_unique<State>();
    state->cursor = std::move(cursor);
    impl.conn().att()->addRef();
    state->attachment.reset(impl.conn().att());
    state->type = rows.Fields(field).dataType();
    for (std::uint32_t row = impl.current; row != detail::kNoRow; row = impl.rows.next(row)) {
        const unsigned char* raw = impl.rowData(row);
        // A row added here has no id to read by: the page is not read ahead.
        if (!raw) return blobs;
        if (impl.layout.isNull(raw, field)) {
            state->ids.emplace_back();
        } else {
            state->ids.emplace_back(impl.layout.blobId(raw, field));
        }
    }
    blobs.state_ = std::move(state);
    return blobs;
}

int PageBlobs::rowCount() const {
    return state_ ? static_cast<int>(state_->ids.size()) : 0;
}

FieldType PageBlobs::type() const {
    return state_ ? state_->type : FieldType::BinaryBlob;
}

bool PageBlobs::isNull(int row) const {
    return !state_ || row < 0 || row >= rowCount() || !state_->ids[row];
}

QByteArray PageBlobs::read(int row) const {
    if (isNull(row)) return {};
    return fb::readBlob(state_->attachment.get(), state_->cursor->transaction(), *state_->ids[row]);
}

}  // namespace patrimonio
