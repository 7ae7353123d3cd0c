#pragma once

#include <cstdint>
#include <optional>

namespace ui {

// The whole number a label shows for a real number: truncated toward zero
// once float error is removed, so 0.29 × 100 (28.999999999999996) shows as
// 29. None for a value that is not finite or lies outside the 64-bit range;
// the label then says something plain instead.
std::optional<std::int64_t> truncatedWhole(double value);

} // namespace ui
