#include "core/Numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <sched.h>
#include <thread>

#include <fmt/format.h>

namespace core {

std::string formatFixed(double value, int decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > 30) decimals = 30;
    return fmt::format("{:.{}f}", value, decimals);
}

std::string formatShortest(double value) { return fmt::format("{}", value); }

std::optional<double> parseDouble(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+')) return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    double v = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, v, std::chars_format::general);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<std::int64_t> parseInt(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+')) return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    std::int64_t v = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, v, 10);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return v;
}

std::optional<std::int64_t> toInt64(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    double t = std::trunc(value);
    // 2^63 is exactly representable; anything at or above it overflows.
    if (t >= 9223372036854775808.0 || t < -9223372036854775808.0) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

std::optional<int> toInt(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    double t = std::trunc(value);
    if (t > std::numeric_limits<int>::max() || t < std::numeric_limits<int>::min())
        return std::nullopt;
    return static_cast<int>(t);
}

std::int64_t clampToInt64(double value, std::int64_t nanValue) {
    if (std::isnan(value)) return nanValue;
    if (value >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(std::trunc(value));
}

int activeProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    unsigned hc = std::thread::hardware_concurrency();
    return hc > 0 ? static_cast<int>(hc) : 1;
}

} // namespace core
