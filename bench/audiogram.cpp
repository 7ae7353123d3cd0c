// Renders a 45 s square audiogram at 30 frames per second (title, cover,
// captions) and reports how many times faster than real time it was made.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "core/ChildProcess.h"
#include "core/Files.h"
#include "core/Numbers.h"
#include "episode/AudiogramGenerator.h"

namespace {

void tool(const std::vector<std::string>& argv) {
    const auto r = core::runChildProcess(argv, true);
    if (!r.succeeded()) throw std::runtime_error(argv[0] + " failed: " + r.output);
}

} // namespace

int main() {
    using episode::AudiogramGenerator;
    constexpr double kSeconds = 45;
    core::WorkFolder work("quorvel-bench");
    const auto audio = work.path() / "episode.wav";
    const auto cover = work.path() / "cover.jpg";
    // Speech-like level changes: noise under a slow tremolo.
    tool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
          "anoisesrc=color=pink:sample_rate=48000:duration=50,tremolo=f=2.5:d=0.9", "-ac", "2", audio.string()});
    tool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc2=s=1400x1400",
          "-frames:v", "1", cover.string()});
    std::vector<episode::CaptionWord> words;
    for (int i = 0; i < 120; ++i)
        words.push_back({i % 7 == 6 ? "sentence." : "word", i * 0.375, i * 0.375 + 0.3});

    AudiogramGenerator::AudiogramConfig config(AudiogramGenerator::AspectRatio::square, kSeconds, "#3B82F6", cover,
                                               30, words, std::string("Quorvel Weekly"));
    const auto out = work.path() / "audiogram.mp4";
    const auto start = std::chrono::steady_clock::now();
    AudiogramGenerator().generate(audio, out, config);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fputs(fmt::format("STEP audiogram_45s_square {}s\n", core::formatFixed(elapsed, 3)).c_str(), stdout);
    std::fputs(fmt::format("SPEED audiogram x_realtime={}\n", core::formatFixed(kSeconds / elapsed, 2)).c_str(),
               stdout);
    return 0;
}
