#pragma once
// How values travel between the program and a Firebird message buffer: the column's type as
// the client describes it, conversion of any value to that type, and reading and writing the
// value at its place in a message.

#include <firebird/Interface.h>

#include <QString>
#include <cstdint>

#include "db/FieldType.h"
#include "db/Value.h"

namespace patrimonio::codec {

// A column or parameter as the client describes it (SQL_* type without the null bit).
struct ColumnType {
    unsigned sqlType = 0;
    int scale = 0;  // Firebird's: -2 for two decimal places
    unsigned length = 0;
    int subType = 0;
    unsigned charSet = 0;
};

FieldType fieldTypeOf(const ColumnType& t);
bool isBlob(const ColumnType& t);

// Converts a value to the column's type exactly, or raises AppError naming the field.
// NULL stays NULL; a zero-byte BLOB and empty text for a text BLOB become NULL.
Value convert(const Value& v, const ColumnType& t, const QString& fieldName);

// Reads the value at its place in a message; a BLOB column reads as NULL (BLOBs are
// fetched separately by id).
Value decode(const unsigned char* msg, unsigned offset, unsigned nullOffset, const ColumnType& t);

// The BLOB id stored in a message (BLOB columns only).
ISC_QUAD blobId(const unsigned char* msg, unsigned offset);

// Writes an already converted, non-BLOB value at its place in a message (NULL sets the flag).
// Text longer than the place raises AppError naming the field.
void encode(const Value& v, const ColumnType& t, unsigned char* msg, unsigned offset,
            unsigned nullOffset, const QString& fieldName);

}  // namespace patrimonio::codec
