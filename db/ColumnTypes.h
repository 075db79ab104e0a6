#pragma once
// The one table of column types. For each SQL type the client describes, one entry says what
// field type the program shows, whether blank text clears it, how any value is converted to it,
// how its value is read from and written into a message buffer, how a new row packs it, and
// whether the WHERE of a generated statement compares it. Whatever treats a column by its type
// asks its entry; nothing else switches over SQL types.

#include <firebird/Interface.h>

#include <QString>
#include <cstdint>
#include <cstring>
#include <vector>

#include "db/BlobSlots.h"
#include "db/FieldType.h"
#include "db/Value.h"

namespace patrimonio::codec {

struct ColumnType;

// What the program does with the columns of one SQL type.
struct ColumnKind {
    unsigned sqlType;  // SQL_* without the null bit
    // The type the program shows for a column of this kind (its scale and sub-type may decide:
    // NUMERIC is kept in an integer, a text BLOB is a BLOB of sub-type 1).
    FieldType (*fieldType)(const ColumnType& t);
    // Text of any kind (CHAR, VARCHAR, BLOB): blank text is a value, not NULL.
    bool textual;
    // Any value but NULL, converted exactly, or AppError naming the field.
    Value (*convert)(const Value& v, const ColumnType& t, const QString& field);
    // The value at the column's place in a message, known not NULL. A BLOB reads as NULL: its
    // bytes are fetched by id.
    Value (*read)(const unsigned char* p, const ColumnType& t);
    // Writes a converted value, not NULL, at the column's place in a message.
    void (*write)(const Value& v, const ColumnType& t, unsigned char* p, const QString& field);
    // A new row's value (db/PackedRow.h): appended to the packed row, read back, stepped over.
    void (*pack)(const Value& v, std::vector<unsigned char>& out, detail::BlobSlots& blobs);
    Value (*unpack)(const unsigned char*& p, const ColumnType& t, const detail::BlobSlots& blobs);
    void (*skip)(const unsigned char*& p);
    // Whether a generated statement finds a row again by this column's value as read.
    bool (*comparable)(const ColumnType& t);
};

// The entry of a type the program does not know: read as NULL, never written.
extern const ColumnKind kUnknownKind;

// The entry of an SQL type (kUnknownKind when there is none).
const ColumnKind& kindOf(unsigned sqlType);

// A column or parameter as the client describes it, with its entry in the table.
struct ColumnType {
    unsigned sqlType = 0;  // SQL_* without the null bit
    int scale = 0;         // Firebird's: -2 for two decimal places
    unsigned length = 0;
    int subType = 0;
    unsigned charSet = 0;
    const ColumnKind* kind = &kUnknownKind;
};

// Text columns this long are left out of the WHERE of generated statements.
constexpr unsigned kLongColumn = 8192;

inline FieldType fieldTypeOf(const ColumnType& t) {
    return t.kind->fieldType(t);
}

inline bool isBlob(const ColumnType& t) {
    return t.sqlType == SQL_BLOB;
}

// Converts a value to the column's type exactly, or raises AppError naming the field.
// NULL stays NULL; a zero-byte BLOB and empty text for a text BLOB become NULL.
inline Value convert(const Value& v, const ColumnType& t, const QString& fieldName) {
    if (v.isNull()) return v;
    return t.kind->convert(v, t, fieldName);
}

// Reads the value at its place in a message; a BLOB column reads as NULL (BLOBs are
// fetched separately by id).
inline Value decode(const unsigned char* msg, unsigned offset, unsigned nullOffset,
                    const ColumnType& t) {
    short flag;
    std::memcpy(&flag, msg + nullOffset, sizeof flag);
    if (flag) return {};
    return t.kind->read(msg + offset, t);
}

// The BLOB id stored in a message (BLOB columns only).
inline ISC_QUAD blobId(const unsigned char* msg, unsigned offset) {
    ISC_QUAD id;
    std::memcpy(&id, msg + offset, sizeof id);
    return id;
}

// Writes an already converted, non-BLOB value at its place in a message (NULL sets the flag).
// Text longer than the place raises AppError naming the field.
inline void encode(const Value& v, const ColumnType& t, unsigned char* msg, unsigned offset,
                   unsigned nullOffset, const QString& fieldName) {
    const short flag = v.isNull() ? -1 : 0;
    std::memcpy(msg + nullOffset, &flag, sizeof flag);
    if (!v.isNull()) t.kind->write(v, t, msg + offset, fieldName);
}

}  // namespace patrimonio::codec
