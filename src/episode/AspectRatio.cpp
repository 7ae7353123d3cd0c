#include "episode/AspectRatio.h"

#include "core/Text.h"

namespace episode {

std::optional<AspectRatio> aspectRatioFromKey(std::string_view text) {
    const std::string k = core::toLower(text);
    for (const char* s : {"square", "1:1", "1x1"})
        if (k == s) return AspectRatio::square;
    for (const char* s : {"vertical", "9:16", "9x16", "story", "reel"})
        if (k == s) return AspectRatio::vertical;
    for (const char* s : {"wide", "landscape", "16:9", "16x9"})
        if (k == s) return AspectRatio::landscape;
    return std::nullopt;
}

} // namespace episode
