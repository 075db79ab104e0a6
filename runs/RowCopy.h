#pragma once
// The copy of one source row into the target's row being added, that every copying step makes:
// column i of the source goes into column i of the target, whatever the columns are named; each
// step says only which columns it leaves out and which it fills with a value of its own.

#include <QString>
#include <functional>

#include "db/RecordSet.h"
#include "db/Value.h"

namespace patrimonio {

// What a step does with one source column.
enum class ColumnRule {
    Copied,   // the source's value goes into the target column at the same position
    LeftOut,  // nothing goes there: the step fills it elsewhere, or the column is not copied
    Own,      // the step's own value goes there (a key translated, say)
};

// Raises naming the table and the column when the target has no column at the source
// column's position.
void requireTargetColumn(RecordSet& target, const QString& fromName, const QString& table,
                         int position);

// The current row of a record set, as copyRow reads a source row.
class RecordRow {
public:
    explicit RecordRow(RecordSet& rows) : rows_(rows) {}
    int fieldCount() const { return rows_.fieldCount(); }
    const QString& fieldName(int i) const { return rows_.Fields(i).FieldName(); }
    Value value(int i) const { return rows_.Fields(i).AsVariant(); }

private:
    RecordSet& rows_;
};

// Copies the source's current row (a RowCursor, or a RecordRow) into the target's current row.
// For each source column in order, `ruleOf(i, name)` says what goes there; a column that is not
// left out must have a target column at its position (else raises naming the table), checked
// before its value is read or made, then receives the source's value or `own(i)`.
template <class Row, class RuleOf>
void copyRow(const Row& source, RecordSet& target, const QString& table, RuleOf&& ruleOf,
             const std::function<Value(int column)>& own = {}) {
    const int columns = source.fieldCount();
    for (int i = 0; i < columns; ++i) {
        const QString& name = source.fieldName(i);
        const ColumnRule rule = ruleOf(i, name);
        if (rule == ColumnRule::LeftOut) continue;
        requireTargetColumn(target, name, table, i);
        target.Fields(i).setAsVariant(rule == ColumnRule::Own ? own(i) : source.value(i));
    }
}

}  // namespace patrimonio
