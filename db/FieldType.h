#pragma once
// The type of a record set's field, as the program sees a Firebird column.

namespace patrimonio {

enum class FieldType {
    SmallInt,
    Integer,
    BigInt,
    Numeric,
    Float,
    Double,
    Date,
    Time,
    Timestamp,
    Char,
    VarChar,
    TextBlob,
    BinaryBlob,
    Boolean
};

}  // namespace patrimonio
