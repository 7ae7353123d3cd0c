#include "ui/OptionLabels.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "core/Numbers.h"

namespace ui {

std::optional<std::int64_t> truncatedWhole(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    // A product such as 0.29 * 100 lands a few units of the last place
    // below the whole number it stands for; that whole number is meant.
    const double nearest = std::round(value);
    if (std::abs(value - nearest) <= 64 * DBL_EPSILON * std::max(1.0, std::abs(value))) value = nearest;
    return core::toInt64(value);
}

} // namespace ui
