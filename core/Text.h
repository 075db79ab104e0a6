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

// The two whole-number checks, a decimal number with an optional sign. They differ in what
// may stand around the number and in its size:
// - isWholeNumber: any white space (Unicode's) around it, any number of digits;
// - isInt64BetweenSpaces: only spaces and tabs around it, and its value fits a 64-bit integer
//   (for text that goes into SQL as typed).
bool isWholeNumber(const QString& text);
bool isInt64BetweenSpaces(const QString& text);

// The part after the last path separator ('/', '\\' or ':'); all of the text when none.
QString fileNameOf(const QString& path);

// The extension: from the last dot after the last path separator; empty when there is none.
QString extensionOf(const QString& path);

// Text value for SQL: in single quotes, inner single quotes doubled.
QString quotedSql(const QString& text);

}  // namespace patrimonio
