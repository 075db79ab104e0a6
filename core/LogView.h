#pragma once
// The one rule for adding an asset code to the log view MemoLOG.

#include <QString>

#include "core/RunHost.h"

namespace patrimonio {

// A view holding nothing but blanks (an operator may have typed some) starts afresh with the
// code; a view ending in a line break (an import's report ends so) gets the code on that new
// line; otherwise the code follows the text as it stands, after " - ", so the view reads
// 12 - 40 - 1033 on one line.
void appendLogCode(RunReport& host, const QString& code);

}  // namespace patrimonio
