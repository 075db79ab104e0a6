#pragma once
// Reads an RTF file back with Debian's unrtf, an RTF reader that is not ours.

#include <QProcess>
#include <QString>

#include "core/Text.h"

namespace patrimonio::test {

// The document's text as unrtf renders it, without the comment lines it adds at the top. In text
// mode unrtf writes the document's own code page (here WIN1252).
inline QString unrtfText(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("unrtf"), {QStringLiteral("--text"), path});
    if (!p.waitForFinished(30000)) return QStringLiteral("<unrtf did not finish>");
    QString out;
    for (const QString& line : fromWin1252(p.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(u'#') || line.startsWith(QStringLiteral("-----"))) continue;
        out += line + u'\n';
    }
    return out.trimmed();
}

}  // namespace patrimonio::test
