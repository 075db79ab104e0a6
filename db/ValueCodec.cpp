#include "db/ValueCodec.h"

#include <QDate>
#include <QRegularExpression>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/Errors.h"
#include "core/Text.h"
#include "db/ValueBasics.h"

namespace patrimonio::codec {

namespace {

QString typeName(const ColumnType& t) {
    switch (fieldTypeOf(t)) {
        case FieldType::SmallInt:
            return QStringLiteral("SMALLINT");
        case FieldType::Integer:
            return QStringLiteral("INTEGER");
        case FieldType::BigInt:
            return QStringLiteral("BIGINT");
        case FieldType::Numeric:
            return QStringLiteral("NUMERIC");
        case FieldType::Float:
            return QStringLiteral("FLOAT");
        case FieldType::Double:
            return QStringLiteral("DOUBLE PRECISION");
        case FieldType::Date:
            return QStringLiteral("DATE");
        case FieldType::Time:
            return QStringLiteral("TIME");
        case FieldType::Timestamp:
            return QStringLiteral("TIMESTAMP");
        case FieldType::Char:
            return QStringLiteral("CHAR");
        case FieldType::VarChar:
            return QStringLiteral("VARCHAR");
        case FieldType::TextBlob:
            return QStringLiteral("BLOB SUB_TYPE TEXT");
        case FieldType::BinaryBlob:
            return QStringLiteral("BLOB");
        case FieldType::Boolean:
            return QStringLiteral("BOOLEAN");
    }
    return {};
}

[[noreturn]] void refuse(const Value& v, const ColumnType& t, const QString& field) {
    QString shown = v.toString();
    if (shown.size() > 60) shown = shown.left(57) + QStringLiteral("...");
    throw AppError(QStringLiteral("Field '%1' cannot take the value '%2': not a valid %3")
                       .arg(field, shown, typeName(t)));
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

// Parses a plain decimal number ("-12.50", " 17 ", "3,5") into digits and scale.
bool parseDecimal(const QByteArray& raw, std::int64_t* value, int* scale) {
    QByteArray s = raw.trimmed();
    if (s.isEmpty()) return false;
    bool negative = false;
    int i = 0;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        ++i;
    }
    std::int64_t v = 0;
    int places = -1;
    bool any = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            if (!checkedMul(v, 10, &v) || v > std::numeric_limits<std::int64_t>::max() - (c - '0'))
                return false;
            v += c - '0';
            if (places >= 0) ++places;
            any = true;
        } else if ((c == '.' || c == ',') && places < 0) {
            places = 0;
        } else {
            return false;
        }
    }
    if (!any) return false;
    *value = negative ? -v : v;
    *scale = places > 0 ? -places : 0;
    return true;
}

bool parseDouble(const QByteArray& raw, double* out) {
    QByteArray s = raw.trimmed();
    if (s.isEmpty()) return false;
    if (!s.contains('.')) s.replace(',', '.');
    char* end = nullptr;
    *out = std::strtod(s.constData(), &end);
    return end == s.constData() + s.size();
}

// Moves an exact decimal to another scale; false when digits would be lost or it overflows.
bool rescale(std::int64_t v, int from, int to, std::int64_t* out) {
    for (; from > to; --from)
        if (!checkedMul(v, 10, &v)) return false;
    for (; from < to; ++from) {
        if (v % 10 != 0) return false;
        v /= 10;
    }
    *out = v;
    return true;
}

bool fitsStorage(std::int64_t v, unsigned sqlType) {
    if (sqlType == SQL_SHORT)
        return v >= std::numeric_limits<std::int16_t>::min() &&
               v <= std::numeric_limits<std::int16_t>::max();
    if (sqlType == SQL_LONG)
        return v >= std::numeric_limits<std::int32_t>::min() &&
               v <= std::numeric_limits<std::int32_t>::max();
    return true;
}

bool parseDate(const QString& s, std::int32_t* day) {
    static const char* const formats[] = {"yyyy-MM-dd", "dd/MM/yyyy", "d/M/yyyy", "dd.MM.yyyy",
                                          "d.M.yyyy"};
    for (const char* f : formats) {
        const QDate d = QDate::fromString(s, QString::fromLatin1(f));
        if (d.isValid()) {
            *day = static_cast<std::int32_t>(iscDateBase().daysTo(d));
            return true;
        }
    }
    return false;
}

bool parseTime(const QString& s, std::uint32_t* t) {
    static const QRegularExpression re(
        QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:[.,](\\d{1,4}))?)?$"));
    const auto m = re.match(s);
    if (!m.hasMatch()) return false;
    const unsigned h = m.captured(1).toUInt(), mi = m.captured(2).toUInt(),
                   se = m.captured(3).isEmpty() ? 0 : m.captured(3).toUInt();
    QString frac = m.captured(4);
    while (frac.size() < 4) frac.append(u'0');
    if (h > 23 || mi > 59 || se > 59) return false;
    *t = ((h * 60 + mi) * 60 + se) * 10000 + frac.toUInt();
    return true;
}

bool parseTimestamp(const QString& text, std::int32_t* day, std::uint32_t* t) {
    const QString s = text.trimmed();
    const qsizetype cut = s.indexOf(QRegularExpression(QStringLiteral("[ T]")));
    if (cut < 0) {
        *t = 0;
        return parseDate(s, day);
    }
    return parseDate(s.left(cut), day) && parseTime(s.mid(cut + 1).trimmed(), t);
}

Value toInteger(const Value& v, const ColumnType& t, const QString& field) {
    std::int64_t out = 0;
    bool ok = false;
    switch (v.kind()) {
        case Value::Kind::Integer:
            ok = rescale(v.integer(), v.scale(), t.scale, &out);
            break;
        case Value::Kind::Boolean:
            ok = rescale(v.boolean() ? 1 : 0, 0, t.scale, &out);
            break;
        case Value::Kind::Floating: {
            const double scaled = v.floating() * std::pow(10.0, -t.scale);
            ok = std::isfinite(scaled) && std::fabs(scaled) < 9.2e18;
            if (ok) out = std::llround(scaled);
            break;
        }
        case Value::Kind::Text: {
            std::int64_t parsed = 0;
            int scale = 0;
            ok = parseDecimal(v.bytes(), &parsed, &scale) && rescale(parsed, scale, t.scale, &out);
            break;
        }
        default:
            break;
    }
    if (!ok || !fitsStorage(out, t.sqlType)) refuse(v, t, field);
    return Value::integer(out, t.scale);
}

Value toFloating(const Value& v, const ColumnType& t, const QString& field) {
    double out = 0;
    switch (v.kind()) {
        case Value::Kind::Floating:
            out = v.floating();
            break;
        case Value::Kind::Integer:
            // Through the decimal text, so that 0.1 becomes the double nearest to 0.1.
            parseDouble(v.toBytes(), &out);
            break;
        case Value::Kind::Boolean:
            out = v.boolean() ? 1 : 0;
            break;
        case Value::Kind::Text:
            if (!parseDouble(v.bytes(), &out)) refuse(v, t, field);
            break;
        default:
            refuse(v, t, field);
    }
    if (t.sqlType == SQL_FLOAT) return Value::floating32(static_cast<float>(out));
    return Value::floating(out);
}

// Text longer than the column: only trailing blanks may go.
QByteArray fitText(const Value& v, QByteArray bytes, const ColumnType& t, const QString& field) {
    if (t.length > 0 && bytes.size() > static_cast<qsizetype>(t.length)) {
        for (qsizetype i = t.length; i < bytes.size(); ++i)
            if (bytes[i] != ' ') {
                throw AppError(QStringLiteral("Field '%1' cannot take the value '%2': longer "
                                              "than %3 bytes")
                                   .arg(field, v.toString().left(60))
                                   .arg(t.length));
            }
        bytes.truncate(t.length);
    }
    return bytes;
}

}  // namespace

FieldType fieldTypeOf(const ColumnType& t) {
    switch (t.sqlType) {
        case SQL_SHORT:
            return (t.scale != 0 || t.subType != 0) ? FieldType::Numeric : FieldType::SmallInt;
        case SQL_LONG:
            return (t.scale != 0 || t.subType != 0) ? FieldType::Numeric : FieldType::Integer;
        case SQL_INT64:
            return (t.scale != 0 || t.subType != 0) ? FieldType::Numeric : FieldType::BigInt;
        case SQL_FLOAT:
            return FieldType::Float;
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return FieldType::Double;
        case SQL_TYPE_DATE:
            return FieldType::Date;
        case SQL_TYPE_TIME:
            return FieldType::Time;
        case SQL_TIMESTAMP:
            return FieldType::Timestamp;
        case SQL_TEXT:
            return FieldType::Char;
        case SQL_BLOB:
            return t.subType == 1 ? FieldType::TextBlob : FieldType::BinaryBlob;
        case SQL_BOOLEAN:
            return FieldType::Boolean;
        default:
            return FieldType::VarChar;
    }
}

bool isBlob(const ColumnType& t) {
    return t.sqlType == SQL_BLOB;
}

Value convert(const Value& v, const ColumnType& t, const QString& field) {
    if (v.isNull()) return v;
    switch (t.sqlType) {
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64:
            return toInteger(v, t, field);
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return toFloating(v, t, field);
        case SQL_TYPE_DATE: {
            if (v.kind() == Value::Kind::Date) return v;
            if (v.kind() == Value::Kind::Timestamp) return Value::date(v.isc_date());
            std::int32_t d = 0;
            if (v.kind() == Value::Kind::Text && parseDate(v.toString().trimmed(), &d))
                return Value::date(d);
            refuse(v, t, field);
        }
        case SQL_TYPE_TIME: {
            if (v.kind() == Value::Kind::Time) return v;
            if (v.kind() == Value::Kind::Timestamp) return Value::time(v.isc_time());
            std::uint32_t tm = 0;
            if (v.kind() == Value::Kind::Text && parseTime(v.toString().trimmed(), &tm))
                return Value::time(tm);
            refuse(v, t, field);
        }
        case SQL_TIMESTAMP: {
            if (v.kind() == Value::Kind::Timestamp) return v;
            if (v.kind() == Value::Kind::Date) return Value::timestamp(v.isc_date(), 0);
            std::int32_t d = 0;
            std::uint32_t tm = 0;
            if (v.kind() == Value::Kind::Text && parseTimestamp(v.toString(), &d, &tm))
                return Value::timestamp(d, tm);
            refuse(v, t, field);
        }
        case SQL_TEXT:
        case SQL_VARYING:
            return Value::text(fitText(v, v.toBytes(), t, field));
        case SQL_BLOB: {
            if (t.subType == 1) {
                const QByteArray b = v.toBytes();
                return b.isEmpty() ? Value() : Value::text(b);
            }
            if (v.kind() != Value::Kind::Binary && v.kind() != Value::Kind::Text)
                refuse(v, t, field);
            return v.bytes().isEmpty() ? Value() : Value::binary(v.bytes());
        }
        case SQL_BOOLEAN: {
            if (v.kind() == Value::Kind::Boolean) return v;
            if (v.kind() == Value::Kind::Integer) return Value::boolean(v.integer() != 0);
            if (v.kind() == Value::Kind::Text) {
                const QByteArray s = v.bytes().trimmed().toLower();
                if (s == "true" || s == "t" || s == "1") return Value::boolean(true);
                if (s == "false" || s == "f" || s == "0") return Value::boolean(false);
            }
            refuse(v, t, field);
        }
        default:
            throw AppError(
                QStringLiteral("Field '%1' has a type the program cannot write").arg(field));
    }
}

Value decode(const unsigned char* msg, unsigned offset, unsigned nullOffset, const ColumnType& t) {
    if (load<short>(msg + nullOffset)) return {};
    const unsigned char* p = msg + offset;
    switch (t.sqlType) {
        case SQL_SHORT:
            return Value::integer(load<std::int16_t>(p), t.scale);
        case SQL_LONG:
            return Value::integer(load<std::int32_t>(p), t.scale);
        case SQL_INT64:
            return Value::integer(load<std::int64_t>(p), t.scale);
        case SQL_FLOAT:
            return Value::floating32(load<float>(p));
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return Value::floating(load<double>(p));
        case SQL_TYPE_DATE:
            return Value::date(load<std::int32_t>(p));
        case SQL_TYPE_TIME:
            return Value::time(load<std::uint32_t>(p));
        case SQL_TIMESTAMP:
            return Value::timestamp(load<std::int32_t>(p), load<std::uint32_t>(p + 4));
        case SQL_TEXT:
            return Value::text(QByteArray(reinterpret_cast<const char*>(p), t.length));
        case SQL_VARYING:
            return Value::text(
                QByteArray(reinterpret_cast<const char*>(p + 2), load<std::uint16_t>(p)));
        case SQL_BOOLEAN:
            return Value::boolean(*p != 0);
        default:
            return {};
    }
}

ISC_QUAD blobId(const unsigned char* msg, unsigned offset) {
    return load<ISC_QUAD>(msg + offset);
}

void encode(const Value& v, const ColumnType& t, unsigned char* msg, unsigned offset,
            unsigned nullOffset, const QString& field) {
    store<short>(msg + nullOffset, v.isNull() ? -1 : 0);
    if (v.isNull()) return;
    unsigned char* p = msg + offset;
    switch (t.sqlType) {
        case SQL_SHORT:
            store(p, static_cast<std::int16_t>(v.integer()));
            break;
        case SQL_LONG:
            store(p, static_cast<std::int32_t>(v.integer()));
            break;
        case SQL_INT64:
            store(p, static_cast<std::int64_t>(v.integer()));
            break;
        case SQL_FLOAT:
            store(p, static_cast<float>(v.floating()));
            break;
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            store(p, v.floating());
            break;
        case SQL_TYPE_DATE:
            store(p, v.isc_date());
            break;
        case SQL_TYPE_TIME:
            store(p, v.isc_time());
            break;
        case SQL_TIMESTAMP:
            store(p, v.isc_date());
            store(p + 4, v.isc_time());
            break;
        case SQL_TEXT:
        case SQL_VARYING: {
            const QByteArray b = fitText(v, v.bytes(), t, field);
            if (t.sqlType == SQL_TEXT) {
                std::memset(p, ' ', t.length);
                std::memcpy(p, b.constData(), static_cast<size_t>(b.size()));
            } else {
                store(p, static_cast<std::uint16_t>(b.size()));
                std::memcpy(p + 2, b.constData(), static_cast<size_t>(b.size()));
            }
            break;
        }
        case SQL_BOOLEAN:
            *p = v.boolean() ? 1 : 0;
            break;
        default:
            throw AppError(
                QStringLiteral("Field '%1' has a type the program cannot write").arg(field));
    }
}

}  // namespace patrimonio::codec
