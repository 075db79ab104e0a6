#include "GaugeModel.h"

#include <algorithm>
#include <cstdint>

namespace patrimonio {

void GaugeModel::setMinimum(int value) {
    min_ = value;
    if (progress_ < min_) progress_ = min_;
}

void GaugeModel::setMaximum(int value) {
    max_ = value;
    if (progress_ > max_) progress_ = max_;
}

void GaugeModel::setProgress(int value) {
    // Clamp to the minimum first so that an inverted range still ends at the maximum.
    progress_ = std::min(std::max(value, min_), max_);
}

int GaugeModel::percent() const {
    if (max_ == min_) return 0;
    const std::int64_t num = (static_cast<std::int64_t>(progress_) - min_) * 100;
    return static_cast<int>(num / (static_cast<std::int64_t>(max_) - min_));
}

int GaugeModel::filledWidth(int innerWidth) const {
    const int w = static_cast<int>(percent() * 0.01 * innerWidth);
    return std::clamp(w, 0, innerWidth);
}

}  // namespace patrimonio
