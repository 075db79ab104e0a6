#pragma once
// The text of the statements a write-back generates. Names are quoted with double quotes;
// lines are joined by line breaks.

#include <QString>
#include <QStringList>

namespace patrimonio::sql {

// The first name after the first FROM of a SELECT text, quoted: an unquoted name in upper case
// (as the server stores it), a quoted one as written. Empty when there is no FROM.
QString tableOfSelect(const QString& select);

// Double quotes around a name, inner double quotes doubled.
QString quoted(const QString& name);

// insert into "T"
//   ("A", "B")
// values
//   (?, ?)
QString insertText(const QString& quotedTable, const QStringList& names);

// One WHERE column: its name and whether its value as read was NULL.
struct WhereColumn {
    QString name;
    bool isNull = false;
};

// The WHERE lines of an UPDATE (also used to find a row again for its BLOBs).
QString whereLines(const QList<WhereColumn>& columns);

// update "T"  set
//  "A" = ?,
//  "B" = ?
// where
//  "C" = ? and
//  "D" is null
QString updateText(const QString& quotedTable, const QStringList& setNames,
                   const QList<WhereColumn>& where);

// select "B1", "B2" from "T"
// where
//  ...
QString blobSelectText(const QString& quotedTable, const QStringList& blobNames,
                       const QList<WhereColumn>& where);

}  // namespace patrimonio::sql
