#include "db/WriteBackSql.h"

#include <QRegularExpression>

namespace patrimonio::sql {

QString quoted(const QString& name) {
    QString inner = name;
    inner.replace(u'"', QStringLiteral("\"\""));
    return u'"' + inner + u'"';
}

QString tableOfSelect(const QString& select) {
    static const QRegularExpression from(QStringLiteral("\\bfrom\\s+"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto m = from.match(select);
    if (!m.hasMatch()) return {};
    const qsizetype start = m.capturedEnd();
    if (start < select.size() && select.at(start) == u'"') {
        QString name;
        for (qsizetype i = start + 1; i < select.size(); ++i) {
            if (select.at(i) == u'"') {
                if (i + 1 < select.size() && select.at(i + 1) == u'"') {
                    name.append(u'"');
                    ++i;
                    continue;
                }
                return quoted(name);
            }
            name.append(select.at(i));
        }
        return {};
    }
    qsizetype end = start;
    while (end < select.size() &&
           (select.at(end).isLetterOrNumber() || select.at(end) == u'_' || select.at(end) == u'$'))
        ++end;
    if (end == start) return {};
    return quoted(select.mid(start, end - start).toUpper());
}

QString insertText(const QString& quotedTable, const QStringList& names) {
    QStringList quotedNames, marks;
    for (const QString& n : names) {
        quotedNames << quoted(n);
        marks << QStringLiteral("?");
    }
    return QStringLiteral("insert into ") + quotedTable + QStringLiteral("\n  (") +
           quotedNames.join(QStringLiteral(", ")) + QStringLiteral(")\nvalues\n  (") +
           marks.join(QStringLiteral(", ")) + u')';
}

QString whereLines(const QList<WhereColumn>& columns) {
    QStringList lines;
    for (const WhereColumn& c : columns)
        lines << u' ' + quoted(c.name) +
                     (c.isNull ? QStringLiteral(" is null") : QStringLiteral(" = ?"));
    return lines.join(QStringLiteral(" and\n"));
}

QString updateText(const QString& quotedTable, const QStringList& setNames,
                   const QList<WhereColumn>& where) {
    QStringList sets;
    for (const QString& n : setNames) sets << u' ' + quoted(n) + QStringLiteral(" = ?");
    return QStringLiteral("update ") + quotedTable + QStringLiteral("  set\n") +
           sets.join(QStringLiteral(",\n")) + QStringLiteral("\nwhere\n") + whereLines(where);
}

QString blobSelectText(const QString& quotedTable, const QStringList& blobNames,
                       const QList<WhereColumn>& where) {
    QStringList names;
    for (const QString& n : blobNames) names << quoted(n);
    return QStringLiteral("select ") + names.join(QStringLiteral(", ")) + QStringLiteral(" from ") +
           quotedTable + QStringLiteral("\nwhere\n") + whereLines(where);
}

}  // namespace patrimonio::sql
