#pragma once

#include <cstdint>
#include <vector>

namespace audio {

// A half-open range of frames [start, end).
struct FrameRange {
    std::int64_t start = 0;
    std::int64_t end = 0;

    std::int64_t length() const { return end > start ? end - start : 0; }
    bool operator==(const FrameRange&) const = default;
};

// The ranges clamped to [lower, upper), empty ones dropped, sorted by start and
// overlapping or touching ones merged, so that a walk with a moving index sees
// every range once and in order.
std::vector<FrameRange> normalizedRanges(std::vector<FrameRange> ranges, std::int64_t lower, std::int64_t upper);

} // namespace audio

namespace audio {

// A half-open range of time in seconds [start, end).
struct TimeRange {
    double start = 0;
    double end = 0;
    bool operator==(const TimeRange&) const = default;
};

} // namespace audio
