#pragma once

#include <string_view>
#include <optional>
#include <vector>

#include "core/EnumTable.h"

namespace audio {

// How mains hum is handled.
enum class HumMode { off, autoDetect, hz50, hz60 };

inline constexpr core::EnumTable<HumMode, 4> kHumModes{{{
    {HumMode::off, "off", "Off"},
    {HumMode::autoDetect, "auto", "Auto-detect"},
    {HumMode::hz50, "50", "50 Hz (Europe, Asia)"},
    {HumMode::hz60, "60", "60 Hz (Americas)"},
}}};

inline std::string_view rawValue(HumMode m) { return kHumModes.rawValue(m); }
inline std::string_view displayName(HumMode m) { return kHumModes.displayName(m); }
inline std::optional<HumMode> humModeFromRaw(std::string_view raw) { return kHumModes.fromRaw(raw); }
inline std::vector<HumMode> allHumModes() { return kHumModes.allCases(); }

// The speech clean-up switches of one episode.
struct CleanupOptions {
    using HumMode = audio::HumMode;

    bool rumbleFilter = false;      // 80 Hz high-pass in front of the chain
    HumMode humRemoval = HumMode::off;
    bool noiseGate = false;         // attenuate between phrases
    bool leveler = false;           // slow gain curve evening out passages
    bool trimSilence = false;       // cut dead air at both ends
    double maxPauseSeconds = 0;     // shorten longer pauses; 0 is off
    double roomToneSeconds = 0.3;   // silence kept next to a trimmed end

    CleanupOptions() = default;
    CleanupOptions(bool rumbleFilter, HumMode humRemoval, bool noiseGate, bool leveler,
                   bool trimSilence, double maxPauseSeconds)
        : rumbleFilter(rumbleFilter), humRemoval(humRemoval), noiseGate(noiseGate), leveler(leveler),
          trimSilence(trimSilence), maxPauseSeconds(maxPauseSeconds), roomToneSeconds(0.3) {}

    // Every switch off, no pause limit, 0.3 s room tone.
    static CleanupOptions none() { return CleanupOptions(); }

    bool operator==(const CleanupOptions&) const = default;
};

} // namespace audio
