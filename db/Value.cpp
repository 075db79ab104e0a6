#include "db/Value.h"

#include <QDate>
#include <charconv>
#include <cstdlib>

#include "core/Text.h"
#include "db/ValueBasics.h"

namespace patrimonio {

namespace {

QByteArray decimalText(std::int64_t v, int scale) {
    const bool negative = v < 0;
    // Work on the magnitude as unsigned so that the smallest int64 has one too.
    std::uint64_t m =
        negative ? (~static_cast<std::uint64_t>(v) + 1) : static_cast<std::uint64_t>(v);
    QByteArray digits = QByteArray::number(static_cast<qulonglong>(m));
    if (scale > 0) {
        digits.append(QByteArray(scale, '0'));
    } else if (scale < 0) {
        const int places = -scale;
        if (digits.size() <= places) digits.prepend(QByteArray(places - digits.size() + 1, '0'));
        digits.insert(digits.size() - places, '.');
    }
    if (negative) digits.prepend('-');
    return digits;
}

QByteArray dateText(std::int32_t day) {
    return iscDateBase().addDays(day).toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
}

QByteArray timeText(std::uint32_t t) {
    const unsigned fraction = t % 10000;
    unsigned s = t / 10000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u.%04u", s / 3600, (s / 60) % 60, s % 60,
                  fraction);
    return QByteArray(buf);
}

}  // namespace

Value Value::integer(std::int64_t v, int scale) {
    Value r;
    r.kind_ = Kind::Integer;
    r.int_ = v;
    r.scale_ = scale;
    return r;
}

Value Value::floating(double v) {
    Value r;
    r.kind_ = Kind::Floating;
    r.float_ = v;
    return r;
}

Value Value::floating32(float v) {
    Value r = floating(v);
    r.single_ = true;
    return r;
}

Value Value::date(std::int32_t iscDate) {
    Value r;
    r.kind_ = Kind::Date;
    r.date_ = iscDate;
    return r;
}

Value Value::time(std::uint32_t iscTime) {
    Value r;
    r.kind_ = Kind::Time;
    r.time_ = iscTime;
    return r;
}

Value Value::timestamp(std::int32_t iscDate, std::uint32_t iscTime) {
    Value r;
    r.kind_ = Kind::Timestamp;
    r.date_ = iscDate;
    r.time_ = iscTime;
    return r;
}

Value Value::text(const QByteArray& bytes) {
    Value r;
    r.kind_ = Kind::Text;
    r.bytes_ = bytes;
    return r;
}

Value Value::binary(const QByteArray& bytes) {
    Value r;
    r.kind_ = Kind::Binary;
    r.bytes_ = bytes;
    return r;
}

Value Value::boolean(bool v) {
    Value r;
    r.kind_ = Kind::Boolean;
    r.int_ = v ? 1 : 0;
    return r;
}

Value Value::fromString(const QString& text) {
    return Value::text(toWin1252(text));
}

Value blobValue(FieldType type, const QByteArray& bytes) {
    return type == FieldType::TextBlob ? Value::text(bytes) : Value::binary(bytes);
}

QByteArray Value::toBytes() const {
    switch (kind_) {
        case Kind::Null:
            return {};
        case Kind::Integer:
            return decimalText(int_, scale_);
        case Kind::Floating: {
            char buf[64];
            const auto res = single_
                                 ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(float_))
                                 : std::to_chars(buf, buf + sizeof buf, float_);
            return QByteArray(buf, static_cast<qsizetype>(res.ptr - buf));
        }
        case Kind::Date:
            return dateText(date_);
        case Kind::Time:
            return timeText(time_);
        case Kind::Timestamp:
            return dateText(date_) + ' ' + timeText(time_);
        case Kind::Text:
        case Kind::Binary:
            return bytes_;
        case Kind::Boolean:
            return int_ ? QByteArrayLiteral("True") : QByteArrayLiteral("False");
    }
    return {};
}

QString Value::toString() const {
    return fromWin1252(toBytes());
}

bool Value::operator==(const Value& other) const {
    if (kind_ != other.kind_) return false;
    switch (kind_) {
        case Kind::Null:
            return true;
        case Kind::Integer: {
            // Equal as numbers: 1.50 equals 1.5. A rescale that overflows cannot be equal.
            std::int64_t a = int_, b = other.int_;
            int sa = scale_, sb = other.scale_;
            for (; sa > sb; --sa)
                if (!checkedMul(a, 10, &a)) return false;
            for (; sb > sa; --sb)
                if (!checkedMul(b, 10, &b)) return false;
            return a == b;
        }
        case Kind::Floating:
            return float_ == other.float_;
        case Kind::Date:
            return date_ == other.date_;
        case Kind::Time:
            return time_ == other.time_;
        case Kind::Timestamp:
            return date_ == other.date_ && time_ == other.time_;
        case Kind::Text:
        case Kind::Binary:
            return bytes_ == other.bytes_;
        case Kind::Boolean:
            return int_ == other.int_;
    }
    return false;
}

}  // namespace patrimonio
