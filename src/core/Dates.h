#pragma once

#include <chrono>
#include <string>

namespace core {

using Clock = std::chrono::system_clock;
using Date = Clock::time_point;

// Dates in JSON are seconds since 2001-01-01 00:00:00 UTC (a double).
double secondsSince2001(Date date);
Date dateFromSecondsSince2001(double seconds); // non-finite values give the epoch
// "HH:mm:ss" in the local time zone, 24-hour clock.
std::string localClockText(Date date);

} // namespace core
