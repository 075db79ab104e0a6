#pragma once
// The log view after a photo-only pass: the codes of the photos it could not handle, then the
// line of what it gained. Tests of the codes compare them without that line.

#include <QRegularExpression>
#include <QString>

namespace patrimonio::test {

// The line a pass ends its log with: "Fotos gravadas: <size> antes, <size> depois." and the
// database file's size at its start and now.
inline const QRegularExpression& photoPassGainLine() {
    static const QRegularExpression line(QStringLiteral(
        "^Fotos gravadas: \\d+(,\\d)? [KMG]B antes, \\d+(,\\d)? [KMG]B depois\\. Arquivo do "
        "banco: \\d+(,\\d)? [KMG]B no início, \\d+(,\\d)? [KMG]B agora( \\([^)]*\\))?\\.$"));
    return line;
}

// The line every run starts its log with: where its files go.
inline bool isFilesFolderLine(const QString& line) {
    return line.startsWith(QStringLiteral("Arquivos desta execução em "));
}

// The log without the line of where the files go, the gain line and the line break after it.
inline QString photoCodesLogged(const QString& log) {
    QStringList lines = log.split(u'\n');
    lines.removeIf([](const QString& l) {
        return isFilesFolderLine(l) || photoPassGainLine().match(l).hasMatch();
    });
    return lines.join(u'\n').trimmed();
}

}  // namespace patrimonio::test
