#include "core/Dates.h"

#include <cmath>
#include <ctime>

#include <fmt/format.h>

namespace core {

namespace {
// 2001-01-01T00:00:00Z in Unix seconds.
constexpr double kReferenceUnixSeconds = 978307200.0;
} // namespace

double secondsSince2001(Date date) {
    using namespace std::chrono;
    auto us = duration_cast<microseconds>(date.time_since_epoch()).count();
    return static_cast<double>(us) / 1e6 - kReferenceUnixSeconds;
}

Date dateFromSecondsSince2001(double seconds) {
    using namespace std::chrono;
    // The clock counts nanoseconds in 64 bits (about ±292 years around 1970):
    // anything beyond ±9e9 s from 2001 cannot be represented and reads as 2001.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 9e9) seconds = 0;
    double unix = seconds + kReferenceUnixSeconds;
    auto us = static_cast<long long>(std::llround(unix * 1e6));
    return Date(duration_cast<Clock::duration>(microseconds(us)));
}

std::string localClockText(Date date) {
    std::time_t t = Clock::to_time_t(date);
    std::tm tm{};
    localtime_r(&t, &tm);
    return fmt::format("{:02}:{:02}:{:02}", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

} // namespace core
