#include "db/PreparedStatement.h"

#include <cstring>

#include "core/Text.h"

namespace patrimonio::detail {

using namespace Firebird;

codec::ColumnType columnType(IMessageMetadata* m, fb::Status& st, unsigned i) {
    codec::ColumnType t;
    t.sqlType = m->getType(&st, i) & ~1u;
    t.scale = m->getScale(&st, i);
    t.length = m->getLength(&st, i);
    t.subType = m->getSubType(&st, i);
    t.charSet = m->getCharSet(&st, i);
    t.kind = &codec::kindOf(t.sqlType);
    return t;
}

MessageLayout MessageLayout::of(IMessageMetadata* m) {
    fb::Status st;
    MessageLayout layout;
    const unsigned n = m->getCount(&st);
    for (unsigned i = 0; i < n; ++i) {
        layout.types.push_back(columnType(m, st, i));
        layout.offsets.push_back(m->getOffset(&st, i));
        layout.nullOffsets.push_back(m->getNullOffset(&st, i));
    }
    layout.length = m->getMessageLength(&st);
    return layout;
}

PreparedStatement prepare(Connection::Impl& c, ITransaction* tra, const QString& text) {
    fb::Status st;
    PreparedStatement p;
    const QByteArray bytes = toWin1252(text);
    p.stmt = fb::Statement(c.att(), tra, bytes, c.dialect);
    p.in.reset(p.stmt->getInputMetadata(&st));
    p.layout = MessageLayout::of(p.in.get());
    p.buffer.assign(p.layout.length, 0);
    return p;
}

void bindParams(PreparedStatement& p, Connection::Impl& c, ITransaction* tra,
                const std::vector<Param>& params) {
    const MessageLayout& layout = p.layout;
    unsigned char* msg = p.buffer.data();
    for (size_t i = 0; i < params.size() && i < layout.types.size(); ++i) {
        const codec::ColumnType& t = layout.types[i];
        const Value v = codec::convert(params[i].value, t, params[i].field);
        if (codec::isBlob(t)) {
            // A BLOB travels as the id of a new BLOB holding its bytes.
            short flag = v.isNull() ? -1 : 0;
            std::memcpy(msg + layout.nullOffsets[i], &flag, sizeof flag);
            if (!v.isNull()) {
                const ISC_QUAD id = fb::writeBlob(c.att(), tra, v.bytes());
                std::memcpy(msg + layout.offsets[i], &id, sizeof id);
            }
        } else {
            codec::encode(v, t, msg, layout.offsets[i], layout.nullOffsets[i], params[i].field);
        }
    }
}

}  // namespace patrimonio::detail
