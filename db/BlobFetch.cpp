#include "db/BlobFetch.h"

#include "core/Errors.h"

namespace patrimonio::detail {

using namespace Firebird;

namespace {

// Column i of a message holding a BLOB id: NULL, or the BLOB's bytes as its field's value.
Value blobAt(Connection::Impl& c, ITransaction* tra, const unsigned char* msg,
             const MessageLayout& layout, int i, FieldType type) {
    if (layout.isNull(msg, i)) return {};
    return blobValue(type, fb::readBlob(c.att(), tra, layout.blobId(msg, i)));
}

}  // namespace

std::vector<Value> fetchBlobsByValues(Connection::Impl& c, const QString& select,
                                      const std::vector<Param>& params,
                                      const std::vector<FieldType>& types) {
    std::vector<Value> got;
    c.guarded([&] {
        fb::Status st;
        fb::Transaction tra = c.begin(true);
        PreparedStatement p = prepare(c, tra.get(), select);
        bindParams(p, c, tra.get(), params);
        fb::Ref<IMessageMetadata> out(p.stmt->getOutputMetadata(&st));
        const MessageLayout layout = MessageLayout::of(out.get());
        std::vector<unsigned char> buf(layout.length);
        fb::Ref<IResultSet> rs(
            p.stmt->openCursor(&st, tra.get(), p.in.get(), p.buffer.data(), out.get(), 0));
        if (rs->fetchNext(&st, buf.data()) != IStatus::RESULT_OK)
            throw DatabaseError(kRecordChanged);
        for (size_t k = 0; k < types.size(); ++k)
            got.push_back(blobAt(c, tra.get(), buf.data(), layout, static_cast<int>(k), types[k]));
        rs->close(&st);
        rs.release();
        tra.commit();
    });
    return got;
}

std::vector<Value> readBlobsById(Connection::Impl& c, ITransaction* tra, const unsigned char* row,
                                 const MessageLayout& layout, const std::vector<int>& fields) {
    std::vector<Value> got;
    c.guarded([&] {
        for (const int f : fields)
            got.push_back(blobAt(c, tra, row, layout, f, codec::fieldTypeOf(layout.types[f])));
    });
    return got;
}

}  // namespace patrimonio::detail
