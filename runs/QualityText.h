#pragma once
// The quality box "% Compressão" (Edit3) read as the quality of a run's recompressions. The two
// runs read it alike but for a blank box: the photo-only pass takes quality 10, while the asset
// step takes it as no quality and keeps its photos as stored.

#include <QString>
#include <optional>

namespace patrimonio {

// The whole number typed; nothing when the box holds anything else, a blank box included.
std::optional<int> assetStepQuality(const QString& text);

// 10 for a blank box, else the whole number typed; raises AppError for anything else.
int photoPassQuality(const QString& text);

}  // namespace patrimonio
