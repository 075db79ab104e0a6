#include "core/LogView.h"

#include "core/Text.h"

namespace patrimonio {

void appendLogCode(RunReport& host, const QString& code) {
    const QString text = host.logText();
    if (trimmed(text).isEmpty()) {
        host.setLogText(code);
    } else {
        host.setLogText(text + QStringLiteral(" - ") + code);
    }
}

}  // namespace patrimonio
