#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// Locale-independent number text. The Qt application sets the C locale from
// the user, so nothing here may go through printf, strtod or iostreams.

// Fixed notation with `decimals` places, always with "." ("%.*f").
std::string formatFixed(double value, int decimals);
// Shortest text that reads back to the same double ("0.85", "-16", "1e+300").
std::string formatShortest(double value);

// Whole text must be a decimal number (leading "+" allowed, surrounding
// white space is not). Non-finite results ("inf", "nan") are refused.
std::optional<double> parseDouble(std::string_view text);
// Whole text must be a base-10 integer with an optional sign ("+7", "-7").
std::optional<std::int64_t> parseInt(std::string_view text);

// A double turned into an integer only when it is finite and in range
// (after truncation toward zero).
std::optional<std::int64_t> toInt64(double value);
std::optional<int> toInt(double value);
// Clamping conversion: NaN gives `nanValue`, out-of-range values the limits.
std::int64_t clampToInt64(double value, std::int64_t nanValue = 0);

// Active processor count of this process (CPU affinity respected), at least 1.
int activeProcessorCount();

} // namespace core
