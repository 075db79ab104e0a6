#include "runs/QualityText.h"

#include "core/Errors.h"
#include "core/Text.h"

namespace patrimonio {

namespace {

constexpr int kPhotoPassBlankQuality = 10;

}  // namespace

std::optional<int> assetStepQuality(const QString& text) {
    if (!isWholeNumber(text)) return std::nullopt;
    bool ok = false;
    const int quality = text.trimmed().toInt(&ok);
    if (!ok) return std::nullopt;
    return quality;
}

int photoPassQuality(const QString& text) {
    if (trimmed(text).isEmpty()) return kPhotoPassBlankQuality;
    const std::optional<int> quality = assetStepQuality(text);
    if (!quality) throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return *quality;
}

}  // namespace patrimonio
