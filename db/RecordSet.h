#pragma once
// An in-memory copy of one SELECT's rows with a change log, written back as generated
// INSERT and UPDATE statements in one transaction per write-back.
//
// The operations that keep the record set's historical names (Open, Close, First, Next, Eof,
// RecordCount, Fields, FieldByName, Append, Insert, Edit, Post, ApplyUpdates, and a field's
// AsVariant, AsString, BlobSize, SaveToFile, LoadFromStream) are spelt as they always were;
// everything this record set adds of its own is camelCase.

#include <QIODevice>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>

#include "db/FieldType.h"
#include "db/Value.h"

namespace patrimonio {

class Connection;
class Field;
class RecordSet;
class RowCursor;

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

    // Connects the connection first when needed and loads every row, without its BLOBs; an
    // open record set is closed and opened afresh. Raises DatabaseError and stays closed.
    void Open();
    // Loads the next rows of the cursor, at most `rows`, as Open loads a SELECT's rows; the
    // command text becomes the cursor's query (write-backs go to its table). While the cursor
    // is open, BLOBs are read in its snapshot. Raises DatabaseError and stays closed.
    void openPage(RowCursor& cursor, int rows);
    // Drops the rows and the whole change log, refused changes included, without a word.
    void Close();
    // Drops the rows and the whole change log as Close does, but stays open on the same fields
    // and keeps its prepared statements: a record set that only sends rows, page after page,
    // does not have the server prepare its statements again for every page.
    void emptyDataSet();
    bool active() const { return state_ != State::Closed; }
    State state() const { return state_; }

    void First();
    void Next();
    bool Eof() const { return eof_; }
    int RecordCount() const;

    // Fields live from Open to the next Close or Open.
    int fieldCount() const;
    Field& Fields(int index);                 // raises AppError when out of range
    Field& FieldByName(const QString& name);  // raises AppError when there is none
    Field* findField(const QString& name);    // nullptr when there is none

    // The value of field `index` in the row `ahead` rows after the current one (0: the current
    // row as fetched), read without moving there; NULL past the last row. A BLOB read this way
    // stays with its row as if it had been read there, until the cursor has been on that row
    // and left it: a run reads the next photos ahead while it handles the current row.
    Value valueAhead(int ahead, int index);
    // The current row's BLOB of field `index` as read, `value`, given by whoever read it ahead
    // by its id (db/PageBlobs.h): the row keeps it as if it had read it, and reading its other
    // BLOBs does not read this one again. Does nothing once the row's BLOBs are read.
    void giveBlob(int index, const Value& value);

    // A row still being inserted or edited is posted first by First, Next, Append, Insert, Edit
    // and ApplyUpdates when one of its fields was assigned, and dropped when none was.
    void Append();  // a new row after the last one
    void Insert();  // a new row before the current one
    void Edit();    // on an empty record set: a new row
    // Raises AppError "Field '%s' must have a value" for a NULL required field that is not
    // read-only and stays inserting or editing. A row with nothing assigned is not kept.
    void Post();
    void cancel();  // drops the row being inserted or edited

    // Sends the pending changes in posting order in one read-committed transaction: an
    // INSERT naming the assigned fields per new row (consecutive new rows naming the same
    // fields go many to a statement), an UPDATE of the changed fields per edited row whose
    // WHERE compares every non-BLOB column under 8192 bytes as read. A row is refused when the
    // server refuses the row itself (a constraint, a value the column cannot take, an
    // exception of the table's triggers, a conflicting change), when it affects no row or (an
    // UPDATE) more than one; with MaxErrors 0 the first refused row rolls the whole call back
    // and the change log stays exactly as before. Returns the number of refused rows and
    // raises nothing for them. Any other failure (connection lost, read-only database, disk
    // full, missing table or permission...) raises DatabaseError with the server's message,
    // the call rolled back and the change log as before. Nothing pending: returns 0 and
    // starts nothing. The statements stay prepared for the next write-back until Close.
    int ApplyUpdates(int MaxErrors);

    int pendingCount() const;
    // How many statements the last write-back sent (new rows travel many to a statement).
    int lastWriteBackStatements() const;
    // Set by a write-back that refused a row; cleared by the next write-back, Close and Open.
    const std::optional<Refusal>& lastRefusal() const;
    // Removes one pending change, so that the next write-back sends the others. A new row
    // leaves the record set; an edited row gets back its values as read.
    void dropPendingChange(int changeIndex);
    // The statement a write-back would send for one pending change (empty for an edited row
    // with no changed field).
    QString pendingStatementText(int changeIndex) const;
    // Takes over the statements `other` keeps prepared (a record set on the same connection
    // and table, not writing back meanwhile): two record sets that take turns at writing the
    // rows of one table have the server prepare each statement once (RecordSetHandOver.cpp).
    void takeStatementsFrom(RecordSet& other);

    struct Impl;

private:
    friend class Field;
    friend class PageBlobs;
    void load(const std::function<void()>& fill);
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
    int scale() const { return scale_; }  // the server's: -2 for NUMERIC(15,2)
    int size() const { return size_; }    // bytes the column stores (CHAR/VARCHAR: declared length)
    bool required() const { return required_; }
    // A computed column, or a result column that is no column of a table: never written.
    bool readOnly() const { return readOnly_; }
    bool isBlob() const { return type_ == FieldType::TextBlob || type_ == FieldType::BinaryBlob; }

    // Read: NULL gives NULL; a binary BLOB of zero bytes gives NULL; a NULL text BLOB gives
    // empty text. The first read of a BLOB of a fetched row fetches that row's BLOBs by its
    // values as read, raising "Record not found or changed by another user" when no row
    // answers; moving to another row lets them go again.
    Value AsVariant() const;
    // Assign: NULL makes the field NULL; other values are converted to the field's type,
    // raising AppError naming the field when they cannot be. A zero-byte BLOB stores NULL.
    void setAsVariant(const Value& value);

    // Read as text (NULL reads as empty text), decoded from WIN1252.
    QString AsString() const;
    // Assign text (encoded to WIN1252), converted to the field's type; blank text makes a
    // number, date, time or boolean NULL.
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

// Every step starts a record set afresh: close it (dropping rows and pending changes), give it
// its new SELECT and open it.
inline void reopen(RecordSet& recordSet, const QString& sql) {
    recordSet.Close();
    recordSet.setCommandText(sql);
    recordSet.Open();
}

}  // namespace patrimonio
