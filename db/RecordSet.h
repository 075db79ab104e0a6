#pragma once
// An in-memory copy of one SELECT's rows with a change log, written back as generated
// INSERT and UPDATE statements in one transaction per write-back.

#include <QIODevice>
#include <QString>
#include <QVector>
#include <memory>
#include <optional>

#include "db/Value.h"

namespace patrimonio {

class Connection;
class Field;
class RecordSet;

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

// Which pending change a write-back refused, and why.
struct Refusal {
    int changeIndex = -1;  // position in the change log (0 = oldest pending change)
    QString message;       // the server's message
    QString sqlState;
    Value firstColumn;  // the refused row's first column (its key, for reports)
};

class RecordSet {
public:
    enum class State { Closed, Browsing, Inserting, Editing };

    explicit RecordSet(Connection& connection);
    ~RecordSet();
    RecordSet(const RecordSet&) = delete;
    RecordSet& operator=(const RecordSet&) = delete;

    Connection& connection() const { return *connection_; }

    void setCommandText(const QString& sql);
    const QString& CommandText() const { return commandText_; }

    void Open();   // connects the connection first when needed; loads every row (no BLOBs)
    void Close();  // drops the rows and the whole change log
    bool active() const { return state_ != State::Closed; }
    State state() const { return state_; }

    void First();
    void Next();
    bool Eof() const { return eof_; }
    int RecordCount() const;

    int fieldCount() const;
    Field& Fields(int index);
    Field& FieldByName(const QString& name);  // raises AppError when there is none
    Field* FindField(const QString& name);    // nullptr when there is none

    void Append();
    void Insert();
    void Edit();
    void Post();
    void Cancel();  // drops the row being inserted or edited

    // Sends the pending changes; returns the number of refused rows (see the rules in the
    // implementation). Raises only when the write-back as a whole fails.
    int ApplyUpdates(int MaxErrors);

    int pendingCount() const;
    // Set by a write-back that refused a row; cleared by the next write-back, Close and Open.
    const std::optional<Refusal>& lastRefusal() const;
    // Removes one pending change, so that the next write-back sends the others.
    void dropPendingChange(int changeIndex);
    // The statement a write-back would send for one pending change (empty for an edited row
    // with no changed field).
    QString pendingStatementText(int changeIndex) const;

    struct Impl;

private:
    friend class Field;
    Connection* connection_;
    QString commandText_;
    State state_ = State::Closed;
    bool eof_ = true;
    std::unique_ptr<Impl> impl_;
};

class Field {
public:
    const QString& FieldName() const { return name_; }
    FieldType dataType() const { return type_; }
    int scale() const { return scale_; }
    int size() const { return size_; }  // bytes the column stores (CHAR/VARCHAR: declared length)
    bool required() const { return required_; }
    bool readOnly() const { return readOnly_; }
    bool isBlob() const { return type_ == FieldType::TextBlob || type_ == FieldType::BinaryBlob; }

    // Read: NULL gives NULL; a binary BLOB of zero bytes gives NULL; a NULL text BLOB gives
    // empty text. Reading a BLOB fetches it on first use.
    Value AsVariant() const;
    // Assign: NULL makes the field NULL; other values are converted to the field's type,
    // raising AppError naming the field when they cannot be. A zero-byte BLOB stores NULL.
    void setAsVariant(const Value& value);

    // Read as text (NULL reads as empty text), decoded from WIN1252.
    QString AsString() const;
    // Assign text (encoded to WIN1252), converted to the field's type.
    void setAsString(const QString& text);

    bool isNull() const;

    // BLOB fields only.
    qint64 BlobSize() const;                     // 0 for NULL
    void SaveToFile(const QString& path) const;  // raises AppError when the file cannot be written
    void LoadFromStream(QIODevice& stream);      // whole content, whatever the position

private:
    friend class RecordSet;
    friend struct RecordSet::Impl;
    Field(RecordSet& owner, int index) : owner_(&owner), index_(index) {}
    RecordSet* owner_;
    int index_;
    QString name_;
    FieldType type_ = FieldType::VarChar;
    int scale_ = 0;
    int size_ = 0;
    bool required_ = false;
    bool readOnly_ = false;
};

}  // namespace patrimonio
