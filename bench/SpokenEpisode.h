#pragma once

// Inputs the episode benches make with espeak-ng and ffmpeg.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "core/ChildProcess.h"

namespace bench {

inline void runTool(const std::vector<std::string>& argv) {
    const auto r = core::runChildProcess(argv, true);
    if (!r.succeeded()) throw std::runtime_error(argv[0] + " failed:\n" + r.output);
}

// About 100 s of espeak-ng speech with a pause, looped to `seconds`, at
// 48 kHz stereo with 50 Hz hum and noise, written to `episode` with the
// ffmpeg audio codec `codec` ("pcm_s24le", "flac"). Leaves "speech.wav" in
// `dir`.
inline void makeSpokenEpisode(const std::filesystem::path& dir, int seconds, const std::filesystem::path& episode,
                              const std::string& codec) {
    runTool({"espeak-ng", "-s", "150", "-w", (dir / "speech.wav").string(),
             "Welcome to the workshop podcast. Today we build a small wooden boat in a garage. We start with the "
             "plans and the timber, then cut the frames and set them up. Is it hard work? It is, but it is fun. "
             "The planks are steamed so that they bend. We glue and screw every plank, sand the hull and paint it. "
             "Three coats keep the water out. Thanks for listening, and see you next week."});
    runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-stream_loop", "-1", "-i",
             (dir / "speech.wav").string(), "-f", "lavfi", "-i", "sine=frequency=50:sample_rate=48000", "-f",
             "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.004:sample_rate=48000", "-filter_complex",
             "[0:a]aresample=48000,apad=pad_dur=4[s];[1:a]volume=0.02[h];"
             "[s][h][2:a]amix=inputs=3:duration=first:normalize=0,aformat=channel_layouts=stereo",
             "-t", fmt::format("{}", seconds), "-ar", "48000", "-c:a", codec, episode.string()});
}

} // namespace bench
