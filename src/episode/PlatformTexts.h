#pragma once

#include <string_view>

// User-facing texts of the episode module that name this platform's tools.
// Kept together so that they read the same wherever they are shown.
namespace episode::platformtexts {

// FFmpeg runner: no executable in any of the searched places.
inline constexpr std::string_view kFFmpegNotFound =
    "FFmpeg binary was not found. Please bundle it or install via 'apt install ffmpeg'.";

// Tag writer: the M4A writer (AAC encoder or MP4 muxer of libav) cannot be set up.
inline constexpr std::string_view kM4AExportUnavailable =
    "The M4A exporter is not available for metadata injection.";

// Transcriber: the English speech model is not installed or cannot be read.
inline constexpr std::string_view kSpeechModelMissing =
    "Transcripts need the English speech model on this computer (apt install pocketsphinx-en-us).";

// Pipeline: progress while transcribing, and the advice after an AAC RSS file.
inline constexpr std::string_view kTranscribingProgress = "Transcribing on this computer...";
inline constexpr std::string_view kRSSWrittenAsAAC =
    "RSS master written as AAC (.m4a). Install FFmpeg (apt install ffmpeg) to get MP3 instead.";

} // namespace episode::platformtexts
