#include "db/ValueConversion.h"

#include <QDate>
#include <QRegularExpression>
#include <QString>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "db/ValueBasics.h"

namespace patrimonio::codec {

namespace {

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

}  // namespace

bool toScaledInteger(const Value& v, int scale, std::int64_t* out) {
    switch (v.kind()) {
        case Value::Kind::Integer:
            return rescale(v.integer(), v.scale(), scale, out);
        case Value::Kind::Boolean:
            return rescale(v.boolean() ? 1 : 0, 0, scale, out);
        case Value::Kind::Floating: {
            const double scaled = v.floating() * std::pow(10.0, -scale);
            if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18) return false;
            *out = std::llround(scaled);
            return true;
        }
        case Value::Kind::Text: {
            std::int64_t parsed = 0;
            int parsedScale = 0;
            return parseDecimal(v.bytes(), &parsed, &parsedScale) &&
                   rescale(parsed, parsedScale, scale, out);
        }
        default:
            return false;
    }
}

bool toDouble(const Value& v, double* out) {
    switch (v.kind()) {
        case Value::Kind::Floating:
            *out = v.floating();
            return true;
        case Value::Kind::Integer:
            // Through the decimal text, so that 0.1 becomes the double nearest to 0.1.
            parseDouble(v.toBytes(), out);
            return true;
        case Value::Kind::Boolean:
            *out = v.boolean() ? 1 : 0;
            return true;
        case Value::Kind::Text:
            return parseDouble(v.bytes(), out);
        default:
            return false;
    }
}

bool toIscDate(const Value& v, std::int32_t* out) {
    if (v.kind() == Value::Kind::Date || v.kind() == Value::Kind::Timestamp) {
        *out = v.isc_date();
        return true;
    }
    return v.kind() == Value::Kind::Text && parseDate(v.toString().trimmed(), out);
}

bool toIscTime(const Value& v, std::uint32_t* out) {
    if (v.kind() == Value::Kind::Time || v.kind() == Value::Kind::Timestamp) {
        *out = v.isc_time();
        return true;
    }
    return v.kind() == Value::Kind::Text && parseTime(v.toString().trimmed(), out);
}

bool toIscTimestamp(const Value& v, std::int32_t* day, std::uint32_t* time) {
    if (v.kind() == Value::Kind::Timestamp || v.kind() == Value::Kind::Date) {
        *day = v.isc_date();
        *time = v.kind() == Value::Kind::Timestamp ? v.isc_time() : 0;
        return true;
    }
    return v.kind() == Value::Kind::Text && parseTimestamp(v.toString(), day, time);
}

bool toBoolean(const Value& v, bool* out) {
    if (v.kind() == Value::Kind::Boolean) {
        *out = v.boolean();
        return true;
    }
    if (v.kind() == Value::Kind::Integer) {
        *out = v.integer() != 0;
        return true;
    }
    if (v.kind() == Value::Kind::Text) {
        const QByteArray s = v.bytes().trimmed().toLower();
        if (s == "true" || s == "t" || s == "1") {
            *out = true;
            return true;
        }
        if (s == "false" || s == "f" || s == "0") {
            *out = false;
            return true;
        }
    }
    return false;
}

bool fitLength(QByteArray* bytes, unsigned length) {
    if (length == 0 || bytes->size() <= static_cast<qsizetype>(length)) return true;
    for (qsizetype i = length; i < bytes->size(); ++i)
        if (bytes->at(i) != ' ') return false;
    bytes->truncate(length);
    return true;
}

}  // namespace patrimonio::codec
