// The checks of files an encoder or a retagging copy has just written.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/Files.h"
#include "episode/WrittenAudioCheck.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// A ten-minute 192 kb/s MP3, as the RSS step writes.
fs::path tenMinuteMP3(const testsupport::TempDir& dir) {
    const auto file = dir / "show.mp3";
    testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                          "sine=frequency=330:sample_rate=44100:duration=600", "-ac", "2", "-codec:a", "libmp3lame",
                          "-b:a", "192k", file.string()});
    return file;
}

std::string failureOf(void (*check)(const fs::path&, const fs::path&, double), const fs::path& file, double seconds) {
    try {
        check(file, "show.mp3", seconds);
    } catch (const core::FileError& e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST(WrittenAudioCheck, PacketsAndDecodedFramesAgreeAndACutFileFailsBothWays) {
    testsupport::TempDir dir;
    const auto whole = tenMinuteMP3(dir);
    const double decoded = episode::decodedSeconds(whole);
    EXPECT_NEAR(decoded, 600.0, 0.1);
    EXPECT_NEAR(episode::packetSeconds(whole), decoded, 0.1);
    EXPECT_EQ(failureOf(episode::verifyWrittenAudio, whole, 600), "");
    EXPECT_EQ(failureOf(episode::verifyCopiedAudio, whole, 600), "");

    // The first 40 % of the bytes, as a full disk leaves behind an exit status of 0.
    const auto cut = dir / "cut.mp3";
    const std::string bytes = core::readFile(whole);
    core::writeFileAtomically(cut, std::string_view(bytes).substr(0, bytes.size() * 2 / 5));
    EXPECT_NEAR(episode::packetSeconds(cut), 240.0, 1.0);
    for (auto check : {episode::verifyWrittenAudio, episode::verifyCopiedAudio}) {
        const std::string why = failureOf(check, cut, 600);
        EXPECT_NE(why.find("show.mp3"), std::string::npos) << why;
        EXPECT_NE(why.find("incomplete (240."), std::string::npos) << why;
    }

    // Not audio at all, and nothing at all.
    const auto text = dir / "text.mp3";
    core::writeFileAtomically(text, std::string(4096, 'x'));
    EXPECT_NE(failureOf(episode::verifyCopiedAudio, text, 600).find("cannot be read back"), std::string::npos);
    // A concat list naming the whole MP3 is no MP3: the list is not followed.
    const auto list = dir / "list.mp3";
    core::writeFileAtomically(list, "ffconcat version 1.0\nfile show.mp3\n");
    EXPECT_NE(failureOf(episode::verifyCopiedAudio, list, 600).find("cannot be read back"), std::string::npos);
    const auto empty = dir / "empty.mp3";
    core::writeFileAtomically(empty, "");
    EXPECT_NE(failureOf(episode::verifyCopiedAudio, empty, 600).find("wrote nothing"), std::string::npos);
}
