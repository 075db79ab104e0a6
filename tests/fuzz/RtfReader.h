#pragma once
// A small, strict RTF reader for the documents the log writer makes: it checks their structure
// and gives back their text, so the fuzz target can compare it with what was written.

#include <QByteArray>
#include <QString>

namespace patrimonio::fuzz {

struct RtfReading {
    QString error;     // empty when the document is well formed
    QString fontName;  // the name in the font table
    QString text;      // \par as '\n', \tab as '\t', \'hh as Windows Latin-1, \uN as UTF-16
};

// Well formed: only printable ASCII, CR and LF; one outer group opened by {\rtf1 and closed by the
// last brace, followed by line ends only; braces balanced; every escape complete.
RtfReading readRtf(const QByteArray& document);

// The text a reader must get back for `text`: line breaks (CR LF, CR, LF, U+2028, U+2029) as
// '\n', control characters other than tab dropped, and the final paragraph end.
QString expectedRtfText(const QString& text);

}  // namespace patrimonio::fuzz
