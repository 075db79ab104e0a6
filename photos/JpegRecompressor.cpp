#include "photos/JpegRecompressor.h"

#include "core/Errors.h"

namespace patrimonio {

std::optional<QByteArray> SetJPGCompression(int, const QString&, const QString&) {
    throw AppError(QStringLiteral("Recompression not available yet"));
}

}  // namespace patrimonio
