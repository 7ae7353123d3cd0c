#include "audio/WAVWriter.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>

#include <csignal>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/Files.h"
#include "core/Numbers.h"
#include "support/TestSupport.h"

using audio::WAVWriter;
using testsupport::TempDir;

namespace {

std::uint32_t le32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

std::uint64_t le64(const std::string& b, std::size_t at) {
    return le32(b, at) | (std::uint64_t{le32(b, at + 4)} << 32);
}

std::vector<std::int32_t> pcm(const std::string& b, int bytesPerSample) {
    std::vector<std::int32_t> out;
    for (std::size_t at = 44; at + static_cast<std::size_t>(bytesPerSample) <= b.size(); at += static_cast<std::size_t>(bytesPerSample)) {
        std::uint32_t v = 0;
        for (int i = bytesPerSample - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
        const std::uint32_t sign = 1u << (8 * bytesPerSample - 1);
        out.push_back(static_cast<std::int32_t>((v ^ sign)) - static_cast<std::int32_t>(sign));
    }
    return out;
}

TEST(WAVWriter, WritesARiffHeaderThatFfprobeReads) {
    TempDir dir;
    const auto file = dir / "out.wav";
    std::vector<float> frames(2 * 4800, 0.25f);
    WAVWriter w(file, 48000, 2, 24);
    w.write(frames, 4800);
    EXPECT_FALSE(std::filesystem::exists(file));   // nothing under the final name before close
    w.close();
    const std::string bytes = core::readFile(file);
    ASSERT_EQ(bytes.size(), 44u + 4800u * 2 * 3);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(bytes, 24), 48000u);
    EXPECT_EQ(le32(bytes, 40), 4800u * 2 * 3);
    const auto probe = testsupport::runTool({"ffprobe", "-v", "error", "-show_entries",
                                             "stream=codec_name,sample_rate,channels,duration", "-of", "compact",
                                             file.string()});
    EXPECT_NE(probe.output.find("codec_name=pcm_s24le|sample_rate=48000|channels=2|duration=0.100000"),
              std::string::npos)
        << probe.output;
}

TEST(WAVWriter, ScalesRoundsClampsAndWritesNaNAsZero) {
    TempDir dir;
    const auto file = dir / "s16.wav";
    const std::vector<float> x = {0.0f, 0.5f, -1.0f, 1.0f, 2.0f, -2.0f, NAN, 1.5f / 32768, -1.5f / 32768, 0.3f / 32768};
    WAVWriter w(file, 8000, 1, 16);
    w.write(x, x.size());
    w.close();
    EXPECT_EQ(pcm(core::readFile(file), 2),
              (std::vector<std::int32_t>{0, 16384, -32768, 32767, 32767, -32768, 0, 2, -2, 0}));

    const auto file24 = dir / "s24.wav";
    WAVWriter w24(file24, 8000, 1, 24);
    const std::vector<float> y = {1.0f, -1.0f, 0.5f, 1.0f / 8388608};
    w24.write(y, y.size());
    w24.close();
    const std::string b = core::readFile(file24);
    EXPECT_EQ(b.size() % 2, 0u);   // odd data length is padded
    EXPECT_EQ(le32(b, 40), 12u);
    EXPECT_EQ(pcm(b.substr(0, 44 + 12), 3), (std::vector<std::int32_t>{8388607, -8388608, 4194304, 1}));
}

// The switch to RF64 with a limit this test sets low: a little over 8 MiB
// of odd length moves back in more than one block, the ds64 chunk carries
// the sizes, and the samples arrive whole behind the longer header.
TEST(WAVWriter, PastTheRiffLimitIsFinishedAsRF64) {
    TempDir dir;
    const auto file = dir / "long.wav";
    constexpr std::uint64_t kFrames = 3'000'001; // mono 24 bit: 9 000 003 bytes, padded
    constexpr std::uint64_t kDataBytes = kFrames * 3;
    // Every frame a different value (exact in float at 24 bit), so a block
    // moved to the wrong place shows.
    auto value = [](std::uint64_t i) { return static_cast<std::int32_t>((i * 7919) % 16777216) - 8388608; };
    {
        WAVWriter w(file, 48000, 1, 24, kDataBytes);
        std::vector<float> chunk;
        for (std::uint64_t at = 0; at < kFrames; at += chunk.size()) {
            chunk.resize(std::min<std::uint64_t>(48000, kFrames - at));
            for (std::size_t k = 0; k < chunk.size(); ++k) chunk[k] = static_cast<float>(value(at + k)) / 8388608.0f;
            w.write(chunk, chunk.size());
        }
        w.close();
    }
    const std::string b = core::readFile(file);
    ASSERT_EQ(b.size(), 80 + kDataBytes + 1);
    EXPECT_EQ(b.substr(0, 4), "RF64");
    EXPECT_EQ(le32(b, 4), 0xFFFFFFFFu);
    EXPECT_EQ(b.substr(8, 8), "WAVEds64");
    EXPECT_EQ(le32(b, 16), 28u);
    EXPECT_EQ(le64(b, 20), b.size() - 8); // RIFF size
    EXPECT_EQ(le64(b, 28), kDataBytes);   // data size
    EXPECT_EQ(le64(b, 36), kFrames);      // sample frames
    EXPECT_EQ(le32(b, 44), 0u);           // no table
    EXPECT_EQ(b.substr(48, 8), std::string("fmt \x10\0\0\0", 8));
    EXPECT_EQ(le32(b, 60), 48000u);
    EXPECT_EQ(b.substr(72, 4), "data");
    EXPECT_EQ(le32(b, 76), 0xFFFFFFFFu);
    std::uint64_t wrong = 0;
    for (std::uint64_t i = 0; i < kFrames; ++i) {
        const std::size_t at = 80 + 3 * i;
        const std::uint32_t v = static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8 |
                                static_cast<unsigned char>(b[at + 2]) << 16;
        if (static_cast<std::int32_t>(v ^ 0x800000u) - 0x800000 != value(i)) ++wrong;
    }
    EXPECT_EQ(wrong, 0u);

    // ffprobe, an independent reader, finds the whole file through ds64.
    const auto probe = testsupport::runTool({"ffprobe", "-v", "error", "-of", "json", "-show_format", "-show_streams",
                                             file.string()});
    const auto info = nlohmann::json::parse(probe.output);
    EXPECT_EQ(info["format"]["format_name"], "wav");
    EXPECT_EQ(info["streams"][0]["duration_ts"], kFrames);
    EXPECT_EQ(info["streams"][0]["bits_per_sample"], 24);
    EXPECT_NEAR(core::parseDouble(info["format"]["duration"].get<std::string>()).value_or(0), kFrames / 48000.0,
                0.001);

    // A file just at the limit stays plain RIFF.
    const auto plain = dir / "plain.wav";
    {
        WAVWriter w(plain, 48000, 1, 24, 36 + 6);
        w.write(std::vector<float>(2, 0.25f), 2);
    }
    EXPECT_EQ(core::readFile(plain).substr(0, 4), "RIFF");
}

TEST(WAVWriter, ReplacesAnExistingFile) {
    TempDir dir;
    const auto file = dir / "keep.wav";
    core::writeFileAtomically(file, "old contents");
    WAVWriter w(file, 16000, 1, 16);
    const std::vector<float> x(160, 0.1f);
    w.write(x, 160);
    w.close();
    EXPECT_EQ(core::readFile(file).size(), 44u + 320u);
}

TEST(WAVWriter, ZeroFramesAndWritesAfterCloseDoNothing) {
    TempDir dir;
    const auto file = dir / "z.wav";
    WAVWriter w(file, 16000, 2, 16);
    const std::vector<float> x(20, 0.1f);
    w.write(x, 0);
    w.close();
    w.write(x, 10);
    w.close();
    EXPECT_FALSE(w.isOpen());
    EXPECT_EQ(core::readFile(file).size(), 44u);
}

TEST(WAVWriter, FolderInTheWayOrMissingFolderIsAnError) {
    TempDir dir;
    std::filesystem::create_directory(dir / "taken.wav");
    try {
        WAVWriter w(dir / "taken.wav", 48000, 2, 24);
        FAIL();
    } catch (const WAVWriter::WriteError& e) {
        EXPECT_STREQ(e.what(), "Could not write taken.wav: a folder of that name is in the way");
    }
    EXPECT_THROW(WAVWriter(dir / "no" / "such" / "x.wav", 48000, 2, 24), WAVWriter::WriteError);
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

TEST(WAVWriter, RefusesUnsupportedFormats) {
    TempDir dir;
    EXPECT_THROW(WAVWriter(dir / "a.wav", 48000, 2, 32), WAVWriter::WriteError);
    EXPECT_THROW(WAVWriter(dir / "a.wav", 48000, 0, 16), WAVWriter::WriteError);
    EXPECT_THROW(WAVWriter(dir / "a.wav", NAN, 1, 16), WAVWriter::WriteError);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(WAVWriter, UnwindingLeavesNoFileButAPlainDropFinishesIt) {
    TempDir dir;
    const std::vector<float> x(100, 0.2f);
    try {
        WAVWriter w(dir / "partial.wav", 8000, 1, 16);
        w.write(x, 100);
        throw std::runtime_error("render failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    {
        WAVWriter w(dir / "dropped.wav", 8000, 1, 16);
        w.write(x, 100);
    }
    EXPECT_EQ(core::readFile(dir / "dropped.wav").size(), 244u);
}

TEST(WAVWriter, FailedWriteIsReportedNotFinished) {
    // A file-size limit makes the disk refuse data past 64 KiB (EFBIG).
    TempDir dir;
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 65536;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool failed = false;
    std::string text;
    try {
        WAVWriter w(dir / "big.wav", 48000, 2, 16);
        const std::vector<float> x(48000 * 2, 0.5f);
        w.write(x, 48000);
        w.close();
    } catch (const WAVWriter::WriteError& e) {
        failed = true;
        text = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(failed);
    EXPECT_EQ(text.rfind("Could not write big.wav: ", 0), 0u) << text;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

} // namespace
