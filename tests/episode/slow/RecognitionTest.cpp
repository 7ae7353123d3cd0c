// Recognition on real recordings: espeak-ng speech with 50 Hz hum and noise
// mixed in, through the shared decoders.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/Files.h"
#include "core/StopSignal.h"
#include "episode/ClipPicker.h"
#include "episode/DecoderPool.h"
#include "episode/Transcriber.h"
#include "support/TestSupport.h"

using episode::CaptionWord;
using episode::Transcriber;
namespace fs = std::filesystem;

namespace {

// A show of short sentences with pauses of 2.5 s, and one long, lively
// sentence in the middle; hum and noise as a cheap microphone gives them.
fs::path humSpeech(const testsupport::TempDir& dir) {
    const auto clean = dir / "speech.wav";
    testsupport::runTool({"espeak-ng", "-v", "en-us", "-s", "150", "-m", "-w", clean.string(),
                          "<speak>Welcome to the garden show. <break time=\"2500ms\"/> "
                          "Today we plant some trees. <break time=\"2500ms\"/> "
                          "The weather is cold and wet. <break time=\"2500ms\"/> "
                          "Is it too late to plant now or can we still do it in the park this week and then "
                          "go on with all the rest of the work in the spring <break time=\"2500ms\"/> "
                          "We water the trees. <break time=\"2500ms\"/> "
                          "Thank you for listening to the show.</speak>"});
    const auto out = dir / "episode.wav";
    // Speech at full level, 50 Hz hum at -30 dBFS and pink noise under it.
    testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", clean.string(), "-f", "lavfi", "-i",
                          "sine=frequency=50:sample_rate=48000", "-f", "lavfi", "-i",
                          "anoisesrc=color=pink:amplitude=0.003:sample_rate=48000", "-filter_complex",
                          "[0:a]aresample=48000[s];[1:a]volume=0.03[h];[s][h][2:a]amix=inputs=3:duration=first:normalize=0",
                          "-ac", "2", out.string()});
    return out;
}

std::string asText(const std::vector<CaptionWord>& words) {
    std::string out;
    for (const auto& w : words) out += w.text + "@" + std::to_string(w.start) + "-" + std::to_string(w.end) + " ";
    return out;
}

class Recognition : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Transcriber::isSupported()) GTEST_SKIP() << "speech model not installed";
        file_ = humSpeech(dir_);
    }
    testsupport::TempDir dir_;
    fs::path file_;
};

} // namespace

TEST_F(Recognition, SameFileGivesTheSameWordsEveryRun) {
    const Transcriber t;
    const std::string first = asText(t.transcribe(file_, "en_US"));
    // Different worker counts hand the utterances to decoders in other orders.
    EXPECT_EQ(asText(t.transcribe(file_, "en_US", 1)), first);
    EXPECT_EQ(asText(t.transcribe(file_, "en_US", 3)), first);
    EXPECT_EQ(asText(t.transcribe(file_, "en_US")), first);
}

TEST_F(Recognition, ItemsAtOnceShareTheDecodersWhichGoWhenTheLastEnds) {
    const Transcriber t;
    const std::string alone = asText(t.transcribe(file_, "en_US"));
    auto& pool = episode::DecoderPool::shared(Transcriber::SpeechModel::installed());
    EXPECT_EQ(pool.decodersMade(), 0u); // freed once nothing transcribes
    std::vector<std::string> texts(3);
    std::vector<std::thread> items;
    for (auto& text : texts) items.emplace_back([&] { text = asText(t.transcribe(file_, "en_US")); });
    for (auto& item : items) item.join();
    for (const auto& text : texts) EXPECT_EQ(text, alone);
    EXPECT_EQ(pool.decodersMade(), 0u);
}

// A quit inside an utterance ends the recognition as stopped and hands the
// decoder back with the utterance ended: kept loaded by a use that goes on,
// the decoders then find the same words as before.
TEST_F(Recognition, AStopInsideAnUtteranceLeavesTheDecodersFindingTheSameWords) {
    const Transcriber t;
    const std::string alone = asText(t.transcribe(file_, "en_US"));
    auto& pool = episode::DecoderPool::shared(Transcriber::SpeechModel::installed());
    const episode::DecoderPool::Use keep(pool);
    {
        const testsupport::StopLoweredAtExit lower;
        auto stopped = std::async(std::launch::async, [&] { return t.transcribe(file_, "en_US"); });
        // A decoder is made for a worker already past its check between
        // utterances: the stop comes inside that worker's utterance.
        while (pool.decodersMade() == 0 && stopped.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
        }
        core::requestStop();
        EXPECT_THROW(stopped.get(), core::Stopped);
    }
    EXPECT_GT(pool.decodersMade(), 0u);
    EXPECT_EQ(asText(t.transcribe(file_, "en_US")), alone);
}

TEST_F(Recognition, SentencesEndAtPausesAndStartCapitalised) {
    const auto words = Transcriber().transcribe(file_, "en_US");
    ASSERT_GT(words.size(), 20u);
    int sentences = 0;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const bool ends = words[i].text.back() == '.';
        const bool pauseAfter = i + 1 == words.size() || words[i + 1].start - words[i].end >= 0.8;
        EXPECT_EQ(ends, pauseAfter) << words[i].text;
        if (ends) ++sentences;
        const bool startsSentence = i == 0 || words[i - 1].text.back() == '.';
        if (startsSentence) {
            EXPECT_TRUE(std::isupper(static_cast<unsigned char>(words[i].text.front()))) << words[i].text;
        }
    }
    EXPECT_GE(sentences, 5); // five pauses of 2.5 s and the end
    // Cues break at those sentence ends: no cue holds a full stop before its last word.
    for (const auto& cue : Transcriber::cues(words, 42, 4.0))
        for (std::size_t k = 0; k + 1 < cue.words.size(); ++k)
            EXPECT_NE(cue.words[k].text.back(), '.') << cue.text();
}

TEST_F(Recognition, ClipPickerChoosesALaterSentenceOnRecognisedWords) {
    const auto words = Transcriber().transcribe(file_, "en_US");
    const double duration = words.back().end + 1;
    const double start = episode::ClipPicker::liveliestStart(words, duration, 8.0);
    // Not the start of the episode: a sentence start after a pause.
    EXPECT_GT(start, 1.0);
    bool atSentence = false;
    for (std::size_t i = 1; i < words.size(); ++i)
        if (words[i - 1].text.back() == '.' && std::abs(words[i].start - 0.25 - start) < 1e-9) atSentence = true;
    EXPECT_TRUE(atSentence) << start;
}

TEST(DecoderPool, NeverMakesMoreDecodersThanItsCapacity) {
    if (!Transcriber::isSupported()) GTEST_SKIP() << "speech model not installed";
    EXPECT_LE(episode::DecoderPool::defaultCapacity(), episode::DecoderPool::kMaxDecoders);
    episode::DecoderPool pool(Transcriber::SpeechModel::installed(), 2);
    {
        auto a = pool.acquire();
        auto b = pool.acquire();
        EXPECT_NE(a.get(), b.get());
    }
    auto c = pool.acquire(); // a freed one comes back
    EXPECT_EQ(pool.decodersMade(), 2u);
}

TEST(DecoderPool, DictionaryKeepsOnlyWordsTheLanguageModelKnows) {
    if (!Transcriber::isSupported()) GTEST_SKIP() << "speech model not installed";
    testsupport::TempDir dir;
    const auto lm = dir / "tiny.lm";
    core::writeFileAtomically(lm, "\\data\\\nngram 1=4\n\n\\1-grams:\n-1.0 <s> 0\n-1.0 </s>\n-1.0 read 0\n-1.0 book 0\n\n\\end\\\n");
    const auto dict = dir / "tiny.dict";
    core::writeFileAtomically(dict, "book B UH K\nbooks B UH K S\nread R IY D\nread(2) R EH D\nread(x) R EH D\n"
                                    "(book P ER EH N\nbook. B UH K\n");
    auto model = Transcriber::SpeechModel::installed();
    model.languageModel = lm;
    model.dictionary = dict;
    EXPECT_EQ(episode::DecoderPool::vocabularyDictionary(model), "book B UH K\nread R IY D\nread(2) R EH D\n");

    model.languageModel = dir / "missing.lm";
    EXPECT_EQ(episode::DecoderPool::vocabularyDictionary(model), ""); // the full dictionary is used then

    // The installed model: every alternative pronunciation of a kept word stays.
    const std::string trimmed = episode::DecoderPool::vocabularyDictionary(Transcriber::SpeechModel::installed());
    EXPECT_GT(std::count(trimmed.begin(), trimmed.end(), '\n'), 50000);
    EXPECT_NE(trimmed.find("\nread R EH D\n"), std::string::npos);
    EXPECT_NE(trimmed.find("\nread(2) R IY D\n"), std::string::npos);
    EXPECT_LT(trimmed.size(), fs::file_size(Transcriber::SpeechModel::installed().dictionary));
}
