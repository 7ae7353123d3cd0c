// Transcribes a generated 10-minute spoken episode on every core and reports
// how many times faster than real time the words were found.

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "audio/PCMStream.h"
#include "core/ChildProcess.h"
#include "core/Files.h"
#include "core/Numbers.h"
#include "episode/Transcriber.h"

namespace {

void tool(const std::vector<std::string>& argv) {
    const auto r = core::runChildProcess(argv, true);
    if (!r.succeeded()) throw std::runtime_error(argv[0] + " failed: " + r.output);
}

// Sentences of a chatty episode, with pauses of varying length between them.
std::string episodeText() {
    const std::vector<std::string> sentences = {
        "Welcome back to the show, today we are talking about gardens and the weather.",
        "My guest has been growing vegetables in a small city garden for many years.",
        "What is the first thing a new gardener should do in the spring?",
        "Start with good soil, and give every plant enough water and sun.",
        "We tried tomatoes last year, but the summer was very wet and cold.",
        "That happens, and it is not your fault at all.",
        "Many people worry about pests, so let us talk about that for a moment.",
        "Birds and small animals are part of the garden, and they help more than they hurt.",
        "After the break we will answer questions from our listeners.",
        "Thank you for staying with us, the next question comes from a listener in the north.",
        "She asks how to keep herbs alive through a long and dark winter.",
        "Bring them inside, keep them near a bright window, and do not water them too often.",
        "That is simple advice, and I think it will help a lot of people.",
    };
    const std::vector<const char*> pauses = {"400ms", "900ms", "600ms", "1500ms", "700ms", "2500ms"};
    std::string text = "<speak>";
    for (int i = 0; i < 150; ++i) {
        text += sentences[static_cast<std::size_t>(i) % sentences.size()];
        text += fmt::format(" <break time=\"{}\"/> ", pauses[static_cast<std::size_t>(i) % pauses.size()]);
    }
    return text + "</speak>";
}

} // namespace

int main() {
    constexpr double kSeconds = 600;
    core::WorkFolder work("quorvel-bench");
    const auto speech = work.path() / "speech.wav";
    const auto episode = work.path() / "episode.wav";
    tool({"espeak-ng", "-v", "en-us+f2", "-s", "150", "-m", "-w", speech.string(), episodeText()});
    tool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", speech.string(), "-t", core::formatFixed(kSeconds, 0),
          "-ar", "44100", "-ac", "2", episode.string()});
    const double duration = audio::PCMStream::format(episode).durationSeconds;

    const episode::Transcriber transcriber;
    const auto start = std::chrono::steady_clock::now();
    const auto words = transcriber.transcribe(episode, "en_US");
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::fputs(fmt::format("STEP transcribe {}s\n", core::formatFixed(elapsed, 3)).c_str(), stdout);
    std::fputs(fmt::format("INFO words={} audio={}s cores={}\n", words.size(), core::formatFixed(duration, 1),
                           core::activeProcessorCount())
                   .c_str(),
               stdout);
    std::fputs(fmt::format("SPEED transcribe x_realtime={}\n", core::formatFixed(duration / elapsed, 1)).c_str(), stdout);
    return 0;
}
