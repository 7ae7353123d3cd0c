#include <gtest/gtest.h>

#include <ostream>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "audio/PCMStream.h"
#include "core/Files.h"
#include "core/Numbers.h"
#include "core/Text.h"
#include "episode/DecoderPool.h"
#include "episode/PlatformTexts.h"
#include "episode/Transcriber.h"
#include "support/TestSupport.h"

using episode::CaptionWord;
using episode::Transcriber;
using Kind = Transcriber::TranscriberError::Kind;

namespace {

constexpr int kSpokenWords = 21;
const char* const kSpeech =
    "<speak>The weather is nice today. <break time=\"1500ms\"/> We are going to the park this afternoon. "
    "<break time=\"1500ms\"/> Please bring some water and a hat for the sun.</speak>";

struct Stretch {
    double start = 0;
    double end = 0;
};

double numberAfter(const std::string& text, std::size_t pos) {
    const std::size_t end = text.find_first_of(" \n\r|", pos);
    return core::parseDouble(text.substr(pos, end - pos)).value_or(-1);
}

// Spoken stretches as ffmpeg's silence detector sees them.
std::vector<Stretch> spokenStretches(const testsupport::fs::path& file) {
    const auto probe = testsupport::runTool({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                                             "default=noprint_wrappers=1:nokey=1", file.string()});
    const double duration = core::parseDouble(core::trimWhitespace(probe.output)).value_or(0);
    const auto detect = testsupport::runTool(
        {"ffmpeg", "-hide_banner", "-nostats", "-i", file.string(), "-af", "silencedetect=noise=-45dB:d=0.25", "-f",
         "null", "-"});
    std::vector<Stretch> stretches;
    double speechStart = 0;
    const std::string& out = detect.output;
    for (std::size_t pos = 0; (pos = out.find("silence_", pos)) != std::string::npos; ++pos) {
        if (out.compare(pos, 15, "silence_start: ") == 0) {
            const double t = numberAfter(out, pos + 15);
            if (t > speechStart) stretches.push_back({speechStart, t});
        } else if (out.compare(pos, 13, "silence_end: ") == 0) {
            speechStart = numberAfter(out, pos + 13);
        }
    }
    if (duration > speechStart + 0.05) stretches.push_back({speechStart, duration});
    return stretches;
}

class TranscriberSpeech : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    testsupport::fs::path speech = dir / "speech.wav";
    void SetUp() override {
        if (!Transcriber::isSupported()) GTEST_SKIP() << "speech model not installed";
        testsupport::runTool({"espeak-ng", "-v", "en-us+f2", "-m", "-s", "150", "-w", speech.string(), kSpeech});
    }
};

} // namespace

TEST_F(TranscriberSpeech, WordsLieInsideSpokenStretchesInTimeOrder) {
    const auto stretches = spokenStretches(speech);
    ASSERT_EQ(stretches.size(), 3u);
    const auto words = Transcriber().transcribe(speech, "en_US", 3);
    EXPECT_GE(words.size(), std::size_t(kSpokenWords / 2));
    EXPECT_LE(words.size(), std::size_t(kSpokenWords * 2));
    double previousStart = 0;
    for (const auto& w : words) {
        EXPECT_FALSE(w.text.empty());
        EXPECT_EQ(w.text.find(' '), std::string::npos) << w.text;
        EXPECT_EQ(w.text.find('('), std::string::npos) << w.text;
        EXPECT_NE(w.text.front(), '<') << w.text;
        EXPECT_NE(w.text.front(), '[') << w.text;
        EXPECT_GE(w.start, previousStart) << w.text;
        EXPECT_GT(w.end, w.start) << w.text;
        previousStart = w.start;
        const bool inside = std::any_of(stretches.begin(), stretches.end(), [&](const Stretch& s) {
            return w.start >= s.start - 0.1 && w.end <= s.end + 0.1;
        });
        EXPECT_TRUE(inside) << w.text << " " << w.start << "-" << w.end;
    }
    // Every spoken stretch yields words.
    for (const auto& s : stretches) {
        EXPECT_TRUE(std::any_of(words.begin(), words.end(),
                                [&](const CaptionWord& w) { return w.start >= s.start - 0.1 && w.end <= s.end + 0.1; }))
            << s.start << "-" << s.end;
    }
}

TEST_F(TranscriberSpeech, CommonWordsAreRecognised) {
    const auto words = Transcriber().transcribe(speech, "", 0);
    std::string all;
    for (const auto& w : words) all += w.text + " ";
    int hits = 0;
    for (const char* expected : {"weather", "today", "park", "water", "sun"})
        if (all.find(expected) != std::string::npos) ++hits;
    EXPECT_GE(hits, 3) << all;
}

TEST_F(TranscriberSpeech, UnsupportedLanguageNamesRequestedLocale) {
    try {
        Transcriber().transcribe(speech, "de_DE", 1);
        FAIL() << "no error";
    } catch (const Transcriber::TranscriberError& e) {
        EXPECT_EQ(e.kind(), Kind::unsupportedLanguage);
        EXPECT_STREQ(e.what(), "On-device transcription doesn't support the language de_DE.");
    }
}

// Two items transcribing at once share the process's decoders, leased an
// utterance at a time: each item still hears only its own words, and the
// decoders go once both have ended. A language model of just these words
// keeps the decoders small and quick to load.
TEST(TranscriberShared, TwoItemsAtOnceEachHearTheirOwnWords) {
    if (!Transcriber::isSupported()) GTEST_SKIP() << "speech model not installed";
    testsupport::TempDir dir;
    struct Item {
        const char* speech;
        std::array<const char*, 4> words;
        testsupport::fs::path file;
        std::string heard;
    };
    std::array<Item, 2> items{{
        {"The weather is nice today. <break time=\"700ms\"/> We walk to the park.", {"weather", "nice", "walk", "park"},
         {}, {}},
        {"Please bring some water. <break time=\"700ms\"/> Thank you for the music.",
         {"bring", "water", "thank", "music"}, {}, {}},
    }};
    std::string unigrams;
    int count = 2;
    for (const char* w : {"the", "weather", "is", "nice", "today", "we", "walk", "to", "park", "please", "bring",
                          "some", "water", "thank", "you", "for", "music"}) {
        unigrams += fmt::format("-1.2 {} 0\n", w);
        ++count;
    }
    const auto lm = dir / "two.lm";
    core::writeFileAtomically(lm, fmt::format("\\data\\\nngram 1={}\n\n\\1-grams:\n-1.0 </s>\n-99 <s> 0\n{}\n\\end\\\n",
                                              count, unigrams));
    auto model = Transcriber::SpeechModel::installed();
    model.languageModel = lm;
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i].file = dir / fmt::format("item{}.wav", i);
        testsupport::runTool({"espeak-ng", "-v", "en-us+f2", "-m", "-s", "150", "-w", items[i].file.string(),
                              std::string("<speak>") + items[i].speech + "</speak>"});
    }
    std::latch start(items.size());
    std::vector<std::thread> running;
    for (auto& item : items)
        running.emplace_back([&] {
            start.arrive_and_wait();
            try {
                // One worker each: a decoder is leased and given back per utterance.
                for (const auto& w : Transcriber(model).transcribe(item.file, "en_US", 1)) item.heard += w.text + ' ';
            } catch (const std::exception& e) {
                item.heard = e.what();
            }
            item.heard = core::toLower(item.heard);
        });
    for (auto& t : running) t.join();
    for (std::size_t i = 0; i < items.size(); ++i) {
        for (const char* word : items[i].words) EXPECT_NE(items[i].heard.find(word), std::string::npos) << items[i].heard;
        for (const char* word : items[1 - i].words) EXPECT_EQ(items[i].heard.find(word), std::string::npos) << items[i].heard;
    }
    EXPECT_EQ(episode::DecoderPool::shared(model).decodersMade(), 0u);
}

TEST(Transcriber, MissingModelIsUnsupportedSystemBeforeAnythingElse) {
    testsupport::TempDir dir;
    const Transcriber::SpeechModel missing{dir / "en-us", dir / "en-us.lm.bin", dir / "cmudict-en-us.dict"};
    EXPECT_FALSE(missing.isReadable());
    try {
        Transcriber(missing).transcribe(dir / "absent.wav", "xx_YY");
        FAIL() << "no error";
    } catch (const Transcriber::TranscriberError& e) {
        EXPECT_EQ(e.kind(), Kind::unsupportedSystem);
        EXPECT_EQ(std::string(e.what()), episode::platformtexts::kSpeechModelMissing);
        EXPECT_NE(std::string(e.what()).find("apt install pocketsphinx-en-us"), std::string::npos);
    }
}

TEST(Transcriber, ModelWithUnreadablePartIsNotReadable) {
    testsupport::TempDir dir;
    auto model = Transcriber::SpeechModel::installed();
    if (!model.isReadable()) GTEST_SKIP() << "speech model not installed";
    model.dictionary = dir / "missing.dict";
    EXPECT_FALSE(model.isReadable());
    model = Transcriber::SpeechModel::installed();
    model.acousticModel = dir.path(); // a folder without the model's files
    EXPECT_FALSE(model.isReadable());
}

TEST(Transcriber, SilenceRecognisesNothing) {
    if (!Transcriber::isSupported()) GTEST_SKIP() << "speech model not installed";
    testsupport::TempDir dir;
    testsupport::makeAudio(dir / "quiet.wav", "anullsrc=r=44100:cl=stereo:d=2");
    try {
        Transcriber().transcribe(dir / "quiet.wav", "C");
        FAIL() << "no error";
    } catch (const Transcriber::TranscriberError& e) {
        EXPECT_EQ(e.kind(), Kind::nothingRecognised);
        EXPECT_STREQ(e.what(), "No speech was recognised.");
    }
}

TEST(Transcriber, UnreadableAudioPassesReaderErrorOn) {
    if (!Transcriber::isSupported()) GTEST_SKIP() << "speech model not installed";
    testsupport::TempDir dir;
    EXPECT_THROW(Transcriber().transcribe(dir / "absent.wav", "en"), audio::PCMStream::StreamError);
}

struct LocaleCase {
    const char* identifier;
    bool supported;
};
void PrintTo(const LocaleCase& c, std::ostream* os) { *os << c.identifier; }
class TranscriberLocale : public ::testing::TestWithParam<LocaleCase> {};
TEST_P(TranscriberLocale, EnglishOnly) {
    EXPECT_EQ(Transcriber::isSupportedLocale(GetParam().identifier), GetParam().supported) << GetParam().identifier;
}
INSTANTIATE_TEST_SUITE_P(Identifiers, TranscriberLocale,
                         ::testing::Values(LocaleCase{"en_US", true}, LocaleCase{"en-GB", true},
                                           LocaleCase{"en_US.UTF-8", true}, LocaleCase{"EN", true},
                                           LocaleCase{"C", true}, LocaleCase{"C.UTF-8", true},
                                           LocaleCase{"POSIX", true}, LocaleCase{"de_DE", false},
                                           LocaleCase{"fr", false}, LocaleCase{"zz_ZZ", false},
                                           LocaleCase{"english", false}));
