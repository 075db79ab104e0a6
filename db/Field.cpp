// A field of a record set: its value in the current row read and assigned by type, as text,
// and a BLOB's bytes to and from files and streams.

#include <QFile>

#include "core/Errors.h"
#include "core/Text.h"
#include "db/RecordSet.h"
#include "db/RecordSetImpl.h"

namespace patrimonio {

Value Field::AsVariant() const {
    Value v = owner_->impl_->read(index_);
    if (type_ == FieldType::BinaryBlob && !v.isNull() && v.bytes().isEmpty()) return {};
    if (type_ == FieldType::TextBlob && v.isNull()) return Value::text({});
    return v;
}

void Field::setAsVariant(const Value& value) {
    owner_->impl_->assign(index_, value);
}

QString Field::AsString() const {
    return AsVariant().toString();
}

void Field::setAsString(const QString& text) {
    // Empty text clears a number or a date, as an operator would expect.
    if (!owner_->impl_->layout.types[index_].kind->textual && trimmed(text).isEmpty()) {
        setAsVariant(Value());
        return;
    }
    setAsVariant(Value::fromString(text));
}

bool Field::isNull() const {
    return owner_->impl_->isNull(index_);
}

qint64 Field::BlobSize() const {
    const Value v = owner_->impl_->read(index_);
    return v.isNull() ? 0 : v.bytes().size();
}

void Field::SaveToFile(const QString& path) const {
    const Value v = owner_->impl_->read(index_);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw AppError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    if (!v.isNull() && file.write(v.bytes()) != v.bytes().size())
        throw AppError(
            QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
}

void Field::LoadFromStream(QIODevice& stream) {
    if (!stream.isSequential()) stream.seek(0);
    const QByteArray bytes = stream.readAll();
    setAsVariant(blobValue(type_, bytes));
}

}  // namespace patrimonio
