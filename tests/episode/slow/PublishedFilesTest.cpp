// What players and social sites read from our files: the ID3 COMM frame of
// the RSS file and the box order of the audiogram.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/PCMStream.h"
#include "core/Files.h"
#include "episode/AudiogramGenerator.h"
#include "episode/ID3TagInjector.h"
#include "episode/Transcriber.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using episode::CaptionWord;

namespace {

struct Frame {
    std::string id;
    std::string body;
};

// A small ID3v2.3 reader: the frames of the tag at the start of the file.
std::vector<Frame> id3v23Frames(const std::string& file) {
    std::vector<Frame> frames;
    if (file.size() < 10 || file.compare(0, 3, "ID3") != 0 || file[3] != 3) return frames;
    auto syncsafe = [&](std::size_t at) {
        std::size_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 7 | (static_cast<unsigned char>(file[at + i]) & 0x7f);
        return v;
    };
    const std::size_t end = std::min(file.size(), 10 + syncsafe(6));
    std::size_t at = 10;
    while (at + 10 <= end && file[at] != '\0') {
        std::size_t size = 0;
        for (int i = 0; i < 4; ++i) size = size << 8 | static_cast<unsigned char>(file[at + 4 + i]);
        if (at + 10 + size > end) break;
        frames.push_back({file.substr(at, 4), file.substr(at + 10, size)});
        at += 10 + size;
    }
    return frames;
}

// UTF-16 with a byte-order mark, ASCII letters only, to plain text.
std::string asciiFromUtf16(const std::string& bytes) {
    std::string out;
    const bool little = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) out += little ? bytes[i] : bytes[i + 1];
    return out;
}

// Top-level MP4 boxes in order.
std::vector<std::string> topLevelBoxes(const std::string& file) {
    std::vector<std::string> boxes;
    std::size_t at = 0;
    while (at + 8 <= file.size()) {
        std::uint64_t size = 0;
        for (int i = 0; i < 4; ++i) size = size << 8 | static_cast<unsigned char>(file[at + i]);
        const std::string type = file.substr(at + 4, 4);
        if (size == 1 && at + 16 <= file.size()) {
            size = 0;
            for (int i = 0; i < 8; ++i) size = size << 8 | static_cast<unsigned char>(file[at + 8 + i]);
        } else if (size == 0) {
            size = file.size() - at;
        }
        if (size < 8) break;
        boxes.push_back(type);
        at += size;
    }
    return boxes;
}

} // namespace

TEST(PublishedFiles, MP3CarriesTheNotesInACommentFrame) {
    const episode::ID3TagInjector injector;
    if (!injector.runner().isFFmpegAvailable()) GTEST_SKIP() << "no FFmpeg";
    const testsupport::TempDir dir;
    testsupport::makeAudio(dir / "in.mp3", "sine=frequency=440:sample_rate=44100:duration=2", {"-c:a", "libmp3lame"});
    core::writeFileAtomically(dir / "chapters.ffmeta",
                              ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\ntitle=Intro\n");
    const episode::PodcastMetadata m{"Title", "Artist", "Show", 3, std::nullopt, "Notes for this episode", 2026,
                                     std::nullopt};
    injector.inject(m, dir / "in.mp3", dir / "out.mp3", dir / "chapters.ffmeta");

    const auto frames = id3v23Frames(core::readFile(dir / "out.mp3"));
    int comments = 0;
    bool title = false, chapter = false, legacyComment = false;
    for (const auto& f : frames) {
        if (f.id == "COMM") {
            ++comments;
            ASSERT_GT(f.body.size(), 4u);
            EXPECT_EQ(f.body[0], '\x01'); // UTF-16 with a byte-order mark
            EXPECT_EQ(f.body.substr(1, 3), "eng");
            // Empty description (the BOM and a two-byte terminator), then the text.
            const std::size_t text = f.body.find(std::string("\0\0", 2), 4);
            ASSERT_NE(text, std::string::npos);
            EXPECT_EQ(asciiFromUtf16(f.body.substr(text + 2)), "Notes for this episode");
        }
        if (f.id == "TIT2") title = true;
        if (f.id == "CHAP") chapter = true;
        if (f.id == "TXXX" && f.body.find("comment") != std::string::npos) legacyComment = true;
    }
    EXPECT_EQ(comments, 1);
    EXPECT_TRUE(title);
    EXPECT_TRUE(chapter);
    EXPECT_TRUE(legacyComment); // what FFmpeg wrote stays
    // The audio is still whole.
    EXPECT_NEAR(audio::PCMStream::format(dir / "out.mp3").durationSeconds, 2.0, 0.1);
}

TEST(PublishedFiles, AudiogramStartsFast) {
    const testsupport::TempDir dir;
    testsupport::makeAudio(dir / "clip.wav", "sine=frequency=440:sample_rate=44100:duration=2");
    const episode::AudiogramGenerator::AudiogramConfig config(episode::AudiogramGenerator::AspectRatio::square, 2.0,
                                                              "#3B82F6", std::nullopt, 10, std::vector<CaptionWord>{},
                                                              std::string("Show"));
    episode::AudiogramGenerator().generate(dir / "clip.wav", dir / "out.mp4", config);
    const auto boxes = topLevelBoxes(core::readFile(dir / "out.mp4"));
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(moov, boxes.end());
    ASSERT_NE(mdat, boxes.end());
    EXPECT_LT(moov, mdat);
}

TEST(Punctuation, PausesEndSentencesAndDictionaryDotsDoNot) {
    const std::vector<CaptionWord> words{{"so", 0.0, 0.3},     {"i", 0.35, 0.5},    {"think", 0.55, 0.9},
                                         {"yes", 1.75, 2.0},     {"x", 2.1, 2.3},     {"it's", 2.4, 2.6},
                                         {"done", 3.0, 3.4}};
    const auto out = episode::Transcriber::punctuate(words);
    std::vector<std::string> texts;
    for (const auto& w : out) texts.push_back(w.text);
    // 0.8 s after "think" ends a sentence; 0.4 s after "it's" does not.
    EXPECT_EQ(texts, (std::vector<std::string>{"So", "I", "think.", "Yes", "x", "it's", "done."}));
    EXPECT_EQ(out[3].start, 1.75);
    EXPECT_TRUE(episode::Transcriber::punctuate({}).empty());
}
