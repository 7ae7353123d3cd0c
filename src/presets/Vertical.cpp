#include "presets/Vertical.h"

#include <array>

#include "core/Text.h"
#include "presets/HalvanePreset.h"
#include "presets/QuorvelPreset.h"
#include "presets/ZentrixPreset.h"

namespace presets {

namespace {

struct Aliases {
    Vertical value;
    std::array<std::string_view, 6> names; // unused slots are empty
};

constexpr Aliases kAliases[] = {
    {Vertical::halvane, {"halvane", "listing", "realestate", "real-estate", "photos", "com.tembrook.halvanepro"}},
    {Vertical::zentrix, {"texture", "textures", "zentrix", "tex", "game", "com.tembrook.zentrix"}},
    {Vertical::quorvel, {"quorvel", "pod", "podcast", "audio", "com.tembrook.quorvel", ""}},
};

} // namespace

std::unique_ptr<batch::BatchPreset> defaultPreset(Vertical v) {
    switch (v) {
    case Vertical::halvane:
        return std::make_unique<HalvanePreset>();
    case Vertical::zentrix:
        return std::make_unique<ZentrixPreset>();
    case Vertical::quorvel:
        break;
    }
    return std::make_unique<QuorvelPreset>();
}

std::string presetID(Vertical v) { return defaultPreset(v)->id(); }

std::optional<Vertical> verticalFromName(std::string_view name) {
    const std::string lowered = core::toLower(name);
    if (lowered.empty()) return std::nullopt;
    for (const auto& a : kAliases)
        for (const auto alias : a.names)
            if (!alias.empty() && alias == lowered) return a.value;
    return std::nullopt;
}

std::optional<Vertical> verticalFromPresetID(std::string_view id) {
    for (const auto v : allVerticals())
        if (presetID(v) == id) return v;
    return std::nullopt;
}

} // namespace presets
