// Transcribes a generated spoken episode of about 10 minutes on the shared
// decoders and reports how many times faster than real time the words were
// found, and the word error rate against the script that was spoken.

#include <algorithm>
#include <cctype>
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

// About ten minutes of speech with its pauses.
constexpr std::size_t kSentences = 110;

void tool(const std::vector<std::string>& argv) {
    const auto r = core::runChildProcess(argv, true);
    if (!r.succeeded()) throw std::runtime_error(argv[0] + " failed: " + r.output);
}

// Sentences of a chatty episode.
std::vector<std::string> episodeSentences() {
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
    std::vector<std::string> out;
    for (std::size_t i = 0; i < kSentences; ++i) out.push_back(sentences[i % sentences.size()]);
    return out;
}

// The sentences as SSML, with pauses of varying length between them.
std::string episodeText(const std::vector<std::string>& sentences) {
    const std::vector<const char*> pauses = {"400ms", "900ms", "600ms", "1500ms", "700ms", "2500ms"};
    std::string text = "<speak>";
    for (std::size_t i = 0; i < sentences.size(); ++i) {
        text += sentences[i];
        text += fmt::format(" <break time=\"{}\"/> ", pauses[i % pauses.size()]);
    }
    return text + "</speak>";
}

// Lower-case words without punctuation (apostrophes stay).
std::vector<std::string> plainWords(const std::string& text) {
    std::vector<std::string> out;
    std::string word;
    for (char c : text + " ") {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '\'') {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (!word.empty()) {
            out.push_back(word);
            word.clear();
        }
    }
    return out;
}

// Word-level edit distance (substitutions, insertions, deletions).
std::size_t editDistance(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

} // namespace

int main() {
    const std::vector<std::string> script = episodeSentences();
    core::WorkFolder work("quorvel-bench");
    const auto speech = work.path() / "speech.wav";
    const auto episode = work.path() / "episode.wav";
    tool({"espeak-ng", "-v", "en-us+f2", "-s", "150", "-m", "-w", speech.string(), episodeText(script)});
    tool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", speech.string(), "-ar", "44100", "-ac", "2",
          episode.string()});
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
    std::string spoken, heard;
    for (const auto& sentence : script) spoken += sentence + " ";
    for (const auto& w : words) heard += w.text + " ";
    const auto reference = plainWords(spoken);
    const auto hypothesis = plainWords(heard);
    const double wer = 100.0 * double(editDistance(reference, hypothesis)) / double(std::max<std::size_t>(1, reference.size()));
    std::fputs(fmt::format("WER transcribe wer={}% reference_words={} recognised_words={}\n", core::formatFixed(wer, 1),
                           reference.size(), hypothesis.size())
                   .c_str(),
               stdout);
    std::fputs(fmt::format("SPEED transcribe x_realtime={}\n", core::formatFixed(duration / elapsed, 1)).c_str(), stdout);
    return 0;
}
