#pragma once
// What a value becomes in a column of each family of types, exactly or not at all: each
// conversion gives false when the value cannot be that without loss, and the column's type
// (db/ColumnTypes.cpp) then refuses it naming the field.

#include <QByteArray>
#include <cstdint>

#include "db/Value.h"

namespace patrimonio::codec {

// A whole number of units of 10^scale (Firebird's scale: -2 for two places): integers and
// booleans moved to that scale without losing a digit, floating numbers rounded, text read as
// a plain decimal (" 17 ", "-12.50", "3,5").
bool toScaledInteger(const Value& v, int scale, std::int64_t* out);

// A floating number: integers through their decimal text (so that 0.1 becomes the double
// nearest to 0.1), booleans as 0 and 1, text read as a number.
bool toDouble(const Value& v, double* out);

// A Firebird day: a date, the day of a timestamp, or text as yyyy-MM-dd, dd/MM/yyyy, d/M/yyyy,
// dd.MM.yyyy or d.M.yyyy.
bool toIscDate(const Value& v, std::int32_t* out);
// A Firebird time of day: a time, the time of a timestamp, or text as H:MM[:SS[.ffff]].
bool toIscTime(const Value& v, std::uint32_t* out);
// A timestamp: a timestamp, a date at midnight, or text as a date, a blank or a T, and a time.
bool toIscTimestamp(const Value& v, std::int32_t* day, std::uint32_t* time);

// A boolean: a boolean, an integer (not 0 is true), or text true/t/1 and false/f/0.
bool toBoolean(const Value& v, bool* out);

// Text longer than `length` bytes (0: no limit) loses what is past it when that is only
// blanks; false when more than blanks would go.
bool fitLength(QByteArray* bytes, unsigned length);

}  // namespace patrimonio::codec
