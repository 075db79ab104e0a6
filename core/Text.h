#pragma once
// Text rules shared by every layer: the operators' databases hold Windows Latin-1 (WIN1252)
// bytes, so text stays bytes until it reaches the window or a file name.

#include <QByteArray>
#include <QString>

namespace patrimonio {

// Encodes to WIN1252. Characters that WIN1252 lacks become '?'.
QByteArray toWin1252(const QString& text);
// Decodes WIN1252. The five bytes WIN1252 leaves undefined map to U+0081.. so that
// decoding and encoding again gives back the same bytes.
QString fromWin1252(const QByteArray& bytes);

// Removes blanks and control characters (everything up to U+0020) from both ends.
QString trimmed(const QString& text);

// True when the text is a whole number in decimal, optionally signed, blanks allowed around it.
bool isWholeNumber(const QString& text);

// The part after the last path separator ('/', '\\' or ':'); all of the text when none.
QString fileNameOf(const QString& path);

// The extension: from the last dot after the last path separator; empty when there is none.
QString extensionOf(const QString& path);

// True when the text holds a folder separator ('/' or '\\'): as part of a file name it would
// put the file in another folder.
bool containsFolderSeparator(const QString& text);

// Text value for SQL: in single quotes, inner single quotes doubled.
QString quotedSql(const QString& text);

}  // namespace patrimonio
