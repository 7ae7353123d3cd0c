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
    std::string_view rawValue;
};

inline constexpr AspectRatioInfo kAspectRatios[] = {
    {AspectRatio::square, 1080, 1080, "Square 1:1 (Instagram, X)", "square", "1:1 (1080x1080)"},
    {AspectRatio::vertical, 1080, 1920, "Vertical 9:16 (Reels, TikTok, Shorts)", "vertical", "9:16 (1080x1920)"},
    {AspectRatio::landscape, 1920, 1080, "Wide 16:9 (YouTube)", "wide", "16:9 (1920x1080)"},
};

inline const AspectRatioInfo& info(AspectRatio a) {
    for (const auto& i : kAspectRatios)
        if (i.value == a) return i;
    return kAspectRatios[0];
}
inline std::string_view shortName(AspectRatio a) { return info(a).shortName; }
inline std::string_view key(AspectRatio a) { return info(a).key; }
inline std::string_view rawValue(AspectRatio a) { return info(a).rawValue; }
// Exactly one of the three raw values ("1:1 (1080x1080)", ...).
inline std::optional<AspectRatio> aspectRatioFromRaw(std::string_view text) {
    for (const auto& i : kAspectRatios)
        if (i.rawValue == text) return i.value;
    return std::nullopt;
}
inline std::vector<AspectRatio> allAspectRatios() {
    return {AspectRatio::square, AspectRatio::vertical, AspectRatio::landscape};
}
// Lower-cases the text (no trimming) and accepts the keys and their aliases.
std::optional<AspectRatio> aspectRatioFromKey(std::string_view text);

} // namespace episode
