#pragma once
// A file's size as the operator reads it in the log view and in questions.

#include <QString>

namespace patrimonio {

// "412.5 MB", "96 KB".
QString sizeText(qint64 bytes);

}  // namespace patrimonio
