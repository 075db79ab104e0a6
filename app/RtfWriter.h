#pragma once
// Writes plain text as a Rich Text Format document in one font, the way the log view is saved.

#include <QByteArray>
#include <QString>

namespace patrimonio {

// A complete RTF document: header, a font table naming fontName, the size given in pixels at
// 96 pixels per inch (written in half-points), then the text with one paragraph per line.
// Backslashes and braces are escaped; every character outside ASCII is escaped, as \'hh when
// Windows Latin-1 has it and as \uN? otherwise, so the document itself is pure ASCII.
QByteArray rtfDocument(const QString& text, const QString& fontName, int pixelSize);

}  // namespace patrimonio
