#include "audio/FrameRange.h"

#include <algorithm>

namespace audio {

std::vector<FrameRange> normalizedRanges(std::vector<FrameRange> ranges, std::int64_t lower, std::int64_t upper)
{
    std::vector<FrameRange> kept;
    kept.reserve(ranges.size());
    for (FrameRange r : ranges) {
        r.start = std::clamp(r.start, lower, std::max(lower, upper));
        r.end = std::clamp(r.end, lower, std::max(lower, upper));
        if (r.end > r.start) kept.push_back(r);
    }
    std::sort(kept.begin(), kept.end(), [](const FrameRange& a, const FrameRange& b) {
        return a.start != b.start ? a.start < b.start : a.end < b.end;
    });
    std::vector<FrameRange> merged;
    for (const FrameRange& r : kept) {
        if (!merged.empty() && r.start <= merged.back().end)
            merged.back().end = std::max(merged.back().end, r.end);
        else
            merged.push_back(r);
    }
    return merged;
}

} // namespace audio
