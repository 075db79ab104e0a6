#include "db/ColumnTypes.h"

#include <iterator>
#include <limits>

#include "core/Errors.h"
#include "db/PackedBytes.h"
#include "db/ValueConversion.h"

namespace patrimonio::codec {

namespace {

using detail::BlobSlots;
using Bytes = std::vector<unsigned char>;

// ---- messages ---------------------------------------------------------------------------

QString typeName(FieldType type) {
    static const char* const names[] = {
        "SMALLINT", "INTEGER", "BIGINT",    "NUMERIC", "FLOAT",   "DOUBLE PRECISION",
        "DATE",     "TIME",    "TIMESTAMP", "CHAR",    "VARCHAR", "BLOB SUB_TYPE TEXT",
        "BLOB",     "BOOLEAN"};
    static_assert(std::size(names) == static_cast<size_t>(FieldType::Boolean) + 1);
    return QString::fromLatin1(names[static_cast<size_t>(type)]);
}

[[noreturn]] void refuse(const Value& v, const ColumnType& t, const QString& field) {
    QString shown = v.toString();
    if (shown.size() > 60) shown = shown.left(57) + QStringLiteral("...");
    throw AppError(QStringLiteral("Field '%1' cannot take the value '%2': not a valid %3")
                       .arg(field, shown, typeName(fieldTypeOf(t))));
}

[[noreturn]] void cannotWrite(const QString& field) {
    throw AppError(QStringLiteral("Field '%1' has a type the program cannot write").arg(field));
}

// Text longer than the column: only trailing blanks may go.
QByteArray fitText(const Value& v, QByteArray bytes, const ColumnType& t, const QString& field) {
    if (!fitLength(&bytes, t.length))
        throw AppError(QStringLiteral("Field '%1' cannot take the value '%2': longer than %3 bytes")
                           .arg(field, v.toString().left(60))
                           .arg(t.length));
    return bytes;
}

template <class T>
T load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void store(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// ---- what several kinds share -------------------------------------------------------------

// A kind that holds no text and whose value finds its row again; the kinds below say how
// they differ from it.
struct Plain {
    static constexpr bool textual = false;
    static bool comparable(const ColumnType&) { return true; }
};

// Shown as one field type whatever its scale and sub-type.
template <FieldType type>
struct ShownAs {
    static FieldType fieldType(const ColumnType&) { return type; }
};

// Packed as a fixed number of bytes.
template <size_t bytes>
struct PackedFixed {
    static void skip(const unsigned char*& p) { p += bytes; }
};

// Packed as one variable-length number.
struct PackedNumber {
    static void skip(const unsigned char*& p) { detail::getVar(p); }
};

// Packed as a variable-length count of bytes, then the bytes.
struct PackedCounted {
    static void skip(const unsigned char*& p) {
        const std::uint64_t n = detail::getVar(p);
        p += n;
    }
};

// ---- SMALLINT, INTEGER, BIGINT and the NUMERIC/DECIMAL kept in them -------------------------

template <class Storage, FieldType plain>
struct IntegerKind : Plain, PackedNumber {
    static FieldType fieldType(const ColumnType& t) {
        return (t.scale != 0 || t.subType != 0) ? FieldType::Numeric : plain;
    }
    static Value convert(const Value& v, const ColumnType& t, const QString& field) {
        std::int64_t out = 0;
        if (!toScaledInteger(v, t.scale, &out) || out < std::numeric_limits<Storage>::min() ||
            out > std::numeric_limits<Storage>::max())
            refuse(v, t, field);
        return Value::integer(out, t.scale);
    }
    static Value read(const unsigned char* p, const ColumnType& t) {
        return Value::integer(load<Storage>(p), t.scale);
    }
    static void write(const Value& v, const ColumnType&, unsigned char* p, const QString&) {
        store(p, static_cast<Storage>(v.integer()));
    }
    static void pack(const Value& v, Bytes& out, BlobSlots&) {
        detail::putVar(out, detail::zigzag(v.integer()));
    }
    static Value unpack(const unsigned char*& p, const ColumnType& t, const BlobSlots&) {
        return Value::integer(detail::unzigzag(detail::getVar(p)), t.scale);
    }
};

// ---- FLOAT and DOUBLE PRECISION ---------------------------------------------------------

template <class Storage, FieldType type>
struct FloatingKind : Plain, ShownAs<type>, PackedFixed<sizeof(Storage)> {
    static Value make(Storage v) {
        if constexpr (sizeof(Storage) == sizeof(float)) {
            return Value::floating32(v);
        } else {
            return Value::floating(v);
        }
    }
    static Value convert(const Value& v, const ColumnType& t, const QString& field) {
        double out = 0;
        if (!toDouble(v, &out)) refuse(v, t, field);
        return make(static_cast<Storage>(out));
    }
    static Value read(const unsigned char* p, const ColumnType&) { return make(load<Storage>(p)); }
    static void write(const Value& v, const ColumnType&, unsigned char* p, const QString&) {
        store(p, static_cast<Storage>(v.floating()));
    }
    static void pack(const Value& v, Bytes& out, BlobSlots&) {
        detail::putFixed(out, static_cast<Storage>(v.floating()));
    }
    static Value unpack(const unsigned char*& p, const ColumnType&, const BlobSlots&) {
        return make(detail::getFixed<Storage>(p));
    }
};

// ---- DATE, TIME, TIMESTAMP --------------------------------------------------------------

struct DateKind : Plain, ShownAs<FieldType::Date>, PackedFixed<4> {
    static Value convert(const Value& v, const ColumnType& t, const QString& field) {
        std::int32_t day = 0;
        if (!toIscDate(v, &day)) refuse(v, t, field);
        return Value::date(day);
    }
    static Value read(const unsigned char* p, const ColumnType&) {
        return Value::date(load<std::int32_t>(p));
    }
    static void write(const Value& v, const ColumnType&, unsigned char* p, const QString&) {
        store(p, v.isc_date());
    }
    static void pack(const Value& v, Bytes& out, BlobSlots&) {
        detail::putFixed(out, v.isc_date());
    }
    static Value unpack(const unsigned char*& p, const ColumnType&, const BlobSlots&) {
        return Value::date(detail::getFixed<std::int32_t>(p));
    }
};

struct TimeKind : Plain, ShownAs<FieldType::Time>, PackedFixed<4> {
    static Value convert(const Value& v, const ColumnType& t, const QString& field) {
        std::uint32_t time = 0;
        if (!toIscTime(v, &time)) refuse(v, t, field);
        return Value::time(time);
    }
    static Value read(const unsigned char* p, const ColumnType&) {
        return Value::time(load<std::uint32_t>(p));
    }
    static void write(const Value& v, const ColumnType&, unsigned char* p, const QString&) {
        store(p, v.isc_time());
    }
    static void pack(const Value& v, Bytes& out, BlobSlots&) {
        detail::putFixed(out, v.isc_time());
    }
    static Value unpack(const unsigned char*& p, const ColumnType&, const BlobSlots&) {
        return Value::time(detail::getFixed<std::uint32_t>(p));
    }
};

struct TimestampKind : Plain, ShownAs<FieldType::Timestamp>, PackedFixed<8> {
    static Value convert(const Value& v, const ColumnType& t, const QString& field) {
        std::int32_t day = 0;
        std::uint32_t time = 0;
        if (!toIscTimestamp(v, &day, &time)) refuse(v, t, field);
        return Value::timestamp(day, time);
    }
    static Value read(const unsigned char* p, const ColumnType&) {
        return Value::timestamp(load<std::int32_t>(p), load<std::uint32_t>(p + 4));
    }
    static void write(const Value& v, const ColumnType&, unsigned char* p, const QString&) {
        store(p, v.isc_date());
        store(p + 4, v.isc_time());
    }
    static void pack(const Value& v, Bytes& out, BlobSlots&) {
        detail::putFixed(out, v.isc_date());
        detail::putFixed(out, v.isc_time());
    }
    static Value unpack(const unsigned char*& p, const ColumnType&, const BlobSlots&) {
        const auto day = detail::getFixed<std::int32_t>(p);
        return Value::timestamp(day, detail::getFixed<std::uint32_t>(p));
    }
};

// ---- CHAR and VARCHAR -------------------------------------------------------------------

struct TextKind : PackedCounted {
    static constexpr bool textual = true;
    static Value convert(const Value& v, const ColumnType& t, const QString& field) {
        return Value::text(fitText(v, v.toBytes(), t, field));
    }
    static void pack(const Value& v, Bytes& out, BlobSlots&) {
        detail::putVar(out, static_cast<std::uint64_t>(v.bytes().size()));
        out.insert(out.end(), v.bytes().begin(), v.bytes().end());
    }
    static Value unpack(const unsigned char*& p, const ColumnType&, const BlobSlots&) {
        const auto n = static_cast<qsizetype>(detail::getVar(p));
        const char* bytes = reinterpret_cast<const char*>(p);
        p += n;
        return Value::text(QByteArray(bytes, n));
    }
    static bool comparable(const ColumnType& t) { return t.length < kLongColumn; }
};

// CHAR: the whole place, blanks included.
struct CharKind : TextKind, ShownAs<FieldType::Char> {
    static Value read(const unsigned char* p, const ColumnType& t) {
        return Value::text(QByteArray(reinterpret_cast<const char*>(p), t.length));
    }
    static void write(const Value& v, const ColumnType& t, unsigned char* p, const QString& field) {
        const QByteArray b = fitText(v, v.bytes(), t, field);
        std::memset(p, ' ', t.length);
        std::memcpy(p, b.constData(), static_cast<size_t>(b.size()));
    }
};

// VARCHAR: a 16-bit length, then the bytes.
struct VarCharKind : TextKind, ShownAs<FieldType::VarChar> {
    static Value read(const unsigned char* p, const ColumnType&) {
        return Value::text(
            QByteArray(reinterpret_cast<const char*>(p + 2), load<std::uint16_t>(p)));
    }
    static void write(const Value& v, const ColumnType& t, unsigned char* p, const QString& field) {
        const QByteArray b = fitText(v, v.bytes(), t, field);
        store(p, static_cast<std::uint16_t>(b.size()));
        std::memcpy(p + 2, b.constData(), static_cast<size_t>(b.size()));
    }
};

// ---- BLOB ---------------------------------------------------------------------------------

struct BlobKind : PackedNumber {
    static constexpr bool textual = true;
    static bool comparable(const ColumnType&) { return false; }
    static FieldType fieldType(const ColumnType& t) {
        return t.subType == 1 ? FieldType::TextBlob : FieldType::BinaryBlob;
    }
    static Value convert(const Value& v, const ColumnType& t, const QString& field) {
        if (t.subType == 1) {
            const QByteArray b = v.toBytes();
            return b.isEmpty() ? Value() : Value::text(b);
        }
        if (v.kind() != Value::Kind::Binary && v.kind() != Value::Kind::Text) refuse(v, t, field);
        return v.bytes().isEmpty() ? Value() : Value::binary(v.bytes());
    }
    static Value read(const unsigned char*, const ColumnType&) { return {}; }
    // A BLOB is written as a new BLOB of the transaction, then its id (db/PreparedStatement.cpp).
    static void write(const Value&, const ColumnType&, unsigned char*, const QString& field) {
        cannotWrite(field);
    }
    // The bytes wait in a slot; the packed row holds the slot's number.
    static void pack(const Value& v, Bytes& out, BlobSlots& blobs) {
        detail::putVar(out, blobs.put(v.bytes()));
    }
    static Value unpack(const unsigned char*& p, const ColumnType& t, const BlobSlots& blobs) {
        return blobValue(fieldType(t), blobs.at(static_cast<std::uint32_t>(detail::getVar(p))));
    }
};

// ---- BOOLEAN ------------------------------------------------------------------------------

struct BooleanKind : Plain, ShownAs<FieldType::Boolean>, PackedFixed<1> {
    static Value convert(const Value& v, const ColumnType& t, const QString& field) {
        bool b = false;
        if (!toBoolean(v, &b)) refuse(v, t, field);
        return Value::boolean(b);
    }
    static Value read(const unsigned char* p, const ColumnType&) { return Value::boolean(*p != 0); }
    static void write(const Value& v, const ColumnType&, unsigned char* p, const QString&) {
        *p = v.boolean() ? 1 : 0;
    }
    static void pack(const Value& v, Bytes& out, BlobSlots&) { out.push_back(v.boolean() ? 1 : 0); }
    static Value unpack(const unsigned char*& p, const ColumnType&, const BlobSlots&) {
        return Value::boolean(*p++ != 0);
    }
};

// ---- a type the program does not know ---------------------------------------------------------

// Shown as VARCHAR, as any column the program cannot tell apart.
struct UnknownKind : Plain, ShownAs<FieldType::VarChar> {
    static constexpr bool textual = true;
    static Value convert(const Value&, const ColumnType&, const QString& field) {
        cannotWrite(field);
    }
    static Value read(const unsigned char*, const ColumnType&) { return {}; }
    static void write(const Value&, const ColumnType&, unsigned char*, const QString& field) {
        cannotWrite(field);
    }
    static void pack(const Value&, Bytes&, BlobSlots&) {}
    static Value unpack(const unsigned char*&, const ColumnType&, const BlobSlots&) { return {}; }
    static void skip(const unsigned char*&) {}
};

template <class K>
constexpr ColumnKind entry(unsigned sqlType) {
    return {sqlType,  K::fieldType, K::textual, K::convert, K::read,
            K::write, K::pack,      K::unpack,  K::skip,    K::comparable};
}

// The table. kindOf looks in it in this order.
constexpr ColumnKind kKinds[] = {
    entry<IntegerKind<std::int16_t, FieldType::SmallInt>>(SQL_SHORT),
    entry<IntegerKind<std::int32_t, FieldType::Integer>>(SQL_LONG),
    entry<IntegerKind<std::int64_t, FieldType::BigInt>>(SQL_INT64),
    entry<FloatingKind<float, FieldType::Float>>(SQL_FLOAT),
    entry<FloatingKind<double, FieldType::Double>>(SQL_DOUBLE),
    entry<FloatingKind<double, FieldType::Double>>(SQL_D_FLOAT),
    entry<DateKind>(SQL_TYPE_DATE),
    entry<TimeKind>(SQL_TYPE_TIME),
    entry<TimestampKind>(SQL_TIMESTAMP),
    entry<CharKind>(SQL_TEXT),
    entry<VarCharKind>(SQL_VARYING),
    entry<BlobKind>(SQL_BLOB),
    entry<BooleanKind>(SQL_BOOLEAN),
};

}  // namespace

const ColumnKind kUnknownKind = entry<UnknownKind>(0);

const ColumnKind& kindOf(unsigned sqlType) {
    for (const ColumnKind& k : kKinds)
        if (k.sqlType == sqlType) return k;
    return kUnknownKind;
}

}  // namespace patrimonio::codec
