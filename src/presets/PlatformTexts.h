#pragma once

#include <string_view>

// User-facing texts of the presets module that name what this platform needs.
// Kept together so that they read the same wherever they are shown.
namespace presets::platformtexts {

// Settings help of the options that rely on on-device speech recognition.
inline constexpr std::string_view kTranscriptHelp =
    "On-device transcript as .srt, .vtt and .txt (true/false, needs the English speech model)";
inline constexpr std::string_view kCaptionsHelp =
    "Burn captions into the audiogram (true/false, needs the English speech model)";
inline constexpr std::string_view kFillersHelp =
    "Cut um, uh and stuttered words (true/false, needs the English speech model)";

// Output planner: what an episode will lack when no transcription is available.
inline constexpr std::string_view kTranscriptsSkippedWarning =
    "Transcripts need the English speech model; they will be skipped";
inline constexpr std::string_view kFillersSkippedWarning =
    "Filler-word removal needs the English speech model; it will be skipped";

} // namespace presets::platformtexts
