#pragma once
// What the record sets' statements share: the layout of a message as the server describes it,
// a statement prepared with its input message, and the parameters placed in that message.

#include <QString>
#include <cstring>
#include <vector>

#include "db/ColumnTypes.h"
#include "db/ConnectionImpl.h"
#include "db/FbApi.h"
#include "db/Value.h"

namespace patrimonio::detail {

// What a statement says when it finds no row where a record set read one.
inline const QString kRecordChanged = QStringLiteral("Record not found or changed by another user");

// Each column's type and place in a message, as the server laid it out.
struct MessageLayout {
    std::vector<codec::ColumnType> types;
    std::vector<unsigned> offsets, nullOffsets;
    unsigned length = 0;  // bytes of the whole message

    // Raises Firebird::FbException.
    static MessageLayout of(Firebird::IMessageMetadata* m);

    int count() const { return static_cast<int>(types.size()); }
    bool isNull(const unsigned char* msg, int i) const {
        short flag;
        std::memcpy(&flag, msg + nullOffsets[i], sizeof flag);
        return flag != 0;
    }
    // A BLOB reads as NULL: it is read by its id.
    Value read(const unsigned char* msg, int i) const {
        return codec::decode(msg, offsets[i], nullOffsets[i], types[i]);
    }
    ISC_QUAD blobId(const unsigned char* msg, int i) const {
        return codec::blobId(msg, offsets[i]);
    }
};

// A column as the client describes it, with its entry in the table of column types.
codec::ColumnType columnType(Firebird::IMessageMetadata* m, fb::Status& st, unsigned i);

// A prepared statement with its input message laid out by the server.
struct PreparedStatement {
    fb::Statement stmt;
    fb::Ref<Firebird::IMessageMetadata> in;
    MessageLayout layout;
    std::vector<unsigned char> buffer;
};

// One parameter: the value and the field it belongs to (for messages).
struct Param {
    Value value;
    QString field;
};

// Raises Firebird::FbException.
PreparedStatement prepare(Connection::Impl& c, Firebird::ITransaction* tra, const QString& text);
// Converts and places every parameter; BLOB values become new BLOBs in the transaction.
void bindParams(PreparedStatement& p, Connection::Impl& c, Firebird::ITransaction* tra,
                const std::vector<Param>& params);

}  // namespace patrimonio::detail
