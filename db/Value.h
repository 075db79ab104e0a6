#pragma once
// A typed database value or NULL. Numbers keep their exact integer and scale, dates and times
// their Firebird encoding, text and BLOBs their bytes, so that a value copied from one record
// set into a column of the same type arrives identical.

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "db/FieldType.h"

namespace patrimonio {

class Value {
public:
    enum class Kind {
        Null,
        Integer,    // SMALLINT, INTEGER, BIGINT, NUMERIC/DECIMAL: integer() x 10^scale(), the
                    // scale counted as the server does (-2 for two decimals: 1250, -2 = 12.50)
        Floating,   // FLOAT, DOUBLE PRECISION
        Date,       // Firebird day number (ISC_DATE)
        Time,       // Firebird time of day in 1/10000 s (ISC_TIME)
        Timestamp,  // both of the above
        Text,       // CHAR, VARCHAR, text BLOB: bytes as stored (WIN1252 for our databases)
        Binary,     // binary BLOB bytes
        Boolean,
    };

    Value() = default;
    static Value null() { return {}; }
    static Value integer(std::int64_t v, int scale = 0);
    static Value floating(double v);
    // A FLOAT column's value: the same number, shown with the digits a float holds.
    static Value floating32(float v);
    static Value date(std::int32_t iscDate);
    static Value time(std::uint32_t iscTime);
    static Value timestamp(std::int32_t iscDate, std::uint32_t iscTime);
    static Value text(const QByteArray& bytes);
    static Value binary(const QByteArray& bytes);
    static Value boolean(bool v);
    // Text from the program itself (encoded to WIN1252).
    static Value fromString(const QString& text);

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }

    std::int64_t integer() const { return int_; }
    int scale() const { return scale_; }
    double floating() const { return float_; }
    std::int32_t isc_date() const { return date_; }
    std::uint32_t isc_time() const { return time_; }
    bool boolean() const { return int_ != 0; }
    const QByteArray& bytes() const { return bytes_; }

    // The value as text: decimal digits for numbers (scale applied exactly), YYYY-MM-DD,
    // HH:MM:SS.ffff, "YYYY-MM-DD HH:MM:SS.ffff", the bytes for text, "True"/"False" for
    // booleans, empty text for NULL. Bytes are returned as stored, undecoded.
    QByteArray toBytes() const;
    // The same, decoded from WIN1252 for the window and for file names.
    QString toString() const;

    bool operator==(const Value& other) const;

private:
    Kind kind_ = Kind::Null;
    std::int64_t int_ = 0;
    int scale_ = 0;
    double float_ = 0.0;
    bool single_ = false;
    std::int32_t date_ = 0;
    std::uint32_t time_ = 0;
    QByteArray bytes_;
};

// A BLOB's bytes as the value of its field: text for a text BLOB, binary for any other.
Value blobValue(FieldType type, const QByteArray& bytes);

}  // namespace patrimonio
