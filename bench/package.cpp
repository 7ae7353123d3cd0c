// The whole package of a generated one-hour episode through the pipeline:
// wall time per step (between the pipeline's progress reports) and in total,
// and the process's peak memory.
//
//   bench_package [seconds] [episodes]   (defaults 3600 and 1)
//
// With more than one episode they run at once, each on its own thread as the
// batch engine runs items, sharing the inputs; steps are then not split.

#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "core/Files.h"
#include "core/Numbers.h"
#include "episode/AudioVideoPipeline.h"
#include "SpokenEpisode.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The spoken episode, a 5 s intro, a 4 s outro and a cover.
void makeInputs(const fs::path& dir, int seconds) {
    bench::makeSpokenEpisode(dir, seconds, dir / "episode.wav", "pcm_s24le");
    bench::runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "sine=frequency=440:sample_rate=48000:duration=5", "-ac", "1", (dir / "intro.wav").string()});
    bench::runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "sine=frequency=660:sample_rate=48000:duration=4", "-ac", "2", (dir / "outro.wav").string()});
    bench::runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "color=c=0x884422:s=600x600", "-frames:v", "1", (dir / "cover.png").string()});
}

// A step's name from the pipeline's progress message: "Encoding 192kbps MP3
// RSS Master..." gives "encoding_192kbps_mp3_rss_master". Steps that run
// beside others (the recognition, the MP3 encoding) are counted in the step
// that waits for them.
std::string stepName(const std::string& message) {
    std::string name;
    for (char c : message) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!name.empty() && name.back() != '_')
            name += '_';
        if (name.size() >= 40) break;
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name;
}

} // namespace

int main(int argc, char** argv) {
    try {
        int seconds = 3600;
        if (argc > 1) seconds = static_cast<int>(core::parseInt(argv[1]).value_or(3600));
        const core::WorkFolder dir("quorvel-bench-package");
        makeInputs(dir.path(), seconds);

        int episodes = 1;
        if (argc > 2) episodes = std::max(1, static_cast<int>(core::parseInt(argv[2]).value_or(1)));

        const auto request = [&](int n) {
            episode::PodcastMetadata tags;
            tags.title = "Building a Boat";
            tags.artist = "Ada Plank";
            tags.podcastName = "Workshop Talk";
            tags.artworkURL = dir.path() / "cover.png";
            episode::MultiFormatExportRequest q(dir.path() / "episode.wav", dir.path() / fmt::format("out{}", n), "ep",
                                                tags, true, true, true, true, audio::LoudnessTarget::stereoPodcast());
            q.cleanup = audio::CleanupOptions(true, audio::HumMode::autoDetect, true, true, true, 2);
            q.introURL = dir.path() / "intro.wav";
            q.outroURL = dir.path() / "outro.wav";
            q.generateTranscripts = true;
            q.captionAudiogram = true;
            q.audiogramClip = episode::ClipChoice::automatic();
            q.chapters = episode::ChapterSetting::automatic();
            return q;
        };
        const auto logLine = [](const std::string& line) { std::cerr << line << '\n'; };

        const auto start = Clock::now();
        auto stepStart = start;
        std::string current = "setup";
        std::vector<std::pair<std::string, double>> steps;
        std::size_t written = 0;
        if (episodes == 1) {
            written = episode::AudioVideoPipeline()
                          .processMultiFormat(
                              request(0),
                              [&](double fraction, const std::string& message) {
                                  const auto now = Clock::now();
                                  if (current != "setup")
                                      steps.emplace_back(current, std::chrono::duration<double>(now - stepStart).count());
                                  current = fraction >= 1.0 ? "setup" : stepName(message);
                                  stepStart = now;
                              },
                              logLine)
                          .size();
        } else {
            std::vector<std::thread> items;
            std::vector<std::exception_ptr> failures(static_cast<std::size_t>(episodes));
            std::vector<std::size_t> counts(static_cast<std::size_t>(episodes));
            for (int n = 0; n < episodes; ++n)
                items.emplace_back([&, n] {
                    try {
                        counts[static_cast<std::size_t>(n)] =
                            episode::AudioVideoPipeline()
                                .processMultiFormat(request(n), [](double, const std::string&) {}, logLine)
                                .size();
                    } catch (...) {
                        failures[static_cast<std::size_t>(n)] = std::current_exception();
                    }
                });
            for (auto& item : items) item.join();
            for (const auto& failure : failures)
                if (failure) std::rethrow_exception(failure);
            for (const auto count : counts) written += count;
        }
        const double total = std::chrono::duration<double>(Clock::now() - start).count();

        for (const auto& [name, s] : steps) std::cout << fmt::format("STEP {} {:.2f}s\n", name, s);
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::cout << fmt::format("TOTAL episodes={} {:.2f}s peak_rss={:.0f}MB\n", episodes, total, static_cast<double>(usage.ru_maxrss) / 1024.0);
        std::cerr << fmt::format("{} files written for {} episode(s) of {} s\n", written, episodes, seconds);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "bench_package: " << e.what() << '\n';
        return 1;
    }
}
