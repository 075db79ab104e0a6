#include "core/SizeText.h"

namespace patrimonio {

QString sizeText(qint64 bytes) {
    if (bytes < 1024 * 1024) return QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

}  // namespace patrimonio
