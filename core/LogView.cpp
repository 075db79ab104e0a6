#include "core/LogView.h"

#include "core/Text.h"

namespace patrimonio {

void appendLogCode(RunReport& host, const QString& code) {
    const QString text = host.logText();
    if (trimmed(text).isEmpty()) {
        host.setLogText(code);
    } else if (text.endsWith(u'\n')) {
        // After a finished report: the codes start a line of their own.
        host.setLogText(text + code);
    } else {
        host.setLogText(text + QStringLiteral(" - ") + code);
    }
}

}  // namespace patrimonio
