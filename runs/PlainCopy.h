#pragma once
// How one of the plain copy steps copies its table.

#include <QString>

namespace patrimonio {

class Field;
class RecordSet;

struct PlainCopy {
    enum class NewRow { Append, Insert };
    enum class Cadence {
        EveryRow,      // write back after each row
        Every500Rows,  // row 0 alone, then 500 at a time, and the rest after the loop
    };
    QString table;
    QString status;
    NewRow newRow;
    bool skipsBvCodigo;
    Cadence cadence;
    bool rowCounter;  // gauge range, "j de n" and a pump after every row
};

// The plain copy of the table; nullptr when the table is not one of the seven.
const PlainCopy* findPlainCopy(const QString& table);

// Raises naming the table and the column when the target has no column at the source
// column's position.
void requireTargetColumn(RecordSet& target, const Field& from, const QString& table, int position);
void requireTargetColumn(RecordSet& target, const QString& fromName, const QString& table,
                         int position);

// Sets target column i to source column i for every source column (BV_CODIGO left out when
// skipBvCodigo). Raises naming the table when the target has fewer columns.
void copyColumnsByPosition(RecordSet& source, RecordSet& target, const QString& table,
                           bool skipBvCodigo);

}  // namespace patrimonio
