#pragma once
// How one of the plain copy steps copies its table.

#include <QString>

namespace patrimonio {

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

}  // namespace patrimonio
