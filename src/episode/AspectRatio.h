#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace episode {

// The audiogram frame shape.
enum class AspectRatio { square, vertical, landscape };

struct AspectRatioInfo {
    AspectRatio value;
    int width;
    int height;
    std::string_view shortName;
    std::string_view key;
};

inline constexpr AspectRatioInfo kAspectRatios[] = {
    {AspectRatio::square, 1080, 1080, "Square 1:1 (Instagram, X)", "square"},
    {AspectRatio::vertical, 1080, 1920, "Vertical 9:16 (Reels, TikTok, Shorts)", "vertical"},
    {AspectRatio::landscape, 1920, 1080, "Wide 16:9 (YouTube)", "wide"},
};

inline const AspectRatioInfo& info(AspectRatio a) {
    for (const auto& i : kAspectRatios)
        if (i.value == a) return i;
    return kAspectRatios[0];
}
inline std::string_view shortName(AspectRatio a) { return info(a).shortName; }
inline std::string_view key(AspectRatio a) { return info(a).key; }
inline std::vector<AspectRatio> allAspectRatios() {
    return {AspectRatio::square, AspectRatio::vertical, AspectRatio::landscape};
}
// Lower-cases the text (no trimming) and accepts the keys and their aliases.
std::optional<AspectRatio> aspectRatioFromKey(std::string_view text);

} // namespace episode
