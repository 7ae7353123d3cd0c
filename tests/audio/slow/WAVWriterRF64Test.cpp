#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "audio/PCMStream.h"
#include "audio/WAVWriter.h"
#include "core/Numbers.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using audio::PCMStream;
using audio::WAVWriter;

std::string head(const fs::path& file, std::size_t n) {
    std::string bytes(n, '\0');
    std::ifstream in(file, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(n));
    return bytes;
}

std::uint64_t le64(const std::string& b, std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

// Four hours and ten minutes of 48 kHz stereo at 24 bit: just past 4 GiB of
// samples, written a second at a time as the pipeline writes, the last
// second a tone so the tail can be found again.
TEST(WAVWriterRF64, PastFourGiBIsRF64ReadByUsAndFFprobe) {
    testsupport::TempDir dir;
    const fs::path file = dir / "long.wav";
    constexpr std::uint64_t kRate = 48000, kSeconds = 4 * 3600 + 10 * 60;
    const std::vector<float> silence(kRate * 2, 0.0f);
    std::vector<float> tone(kRate * 2, 0.0f);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = (i / 2) % 48 < 24 ? 0.5f : -0.5f;
    {
        WAVWriter writer(file, 48000, 2, 24);
        for (std::uint64_t s = 0; s + 1 < kSeconds; ++s) writer.write(silence, kRate);
        writer.write(tone, kRate);
        writer.close();
    }
    const std::uint64_t dataBytes = kSeconds * kRate * 2 * 3;
    ASSERT_GT(dataBytes, 0xFFFFFFFFull);
    EXPECT_EQ(fs::file_size(file), 80 + dataBytes);
    const std::string h = head(file, 80);
    EXPECT_EQ(h.substr(0, 4), "RF64");
    EXPECT_EQ(h.substr(8, 8), "WAVEds64");
    EXPECT_EQ(le64(h, 20), 80 - 8 + dataBytes); // RIFF size
    EXPECT_EQ(le64(h, 28), dataBytes);          // data size
    EXPECT_EQ(le64(h, 36), kSeconds * kRate);   // sample frames
    EXPECT_EQ(h.substr(48, 4), "fmt ");
    EXPECT_EQ(h.substr(72, 4), "data");

    // Our reader: every frame, and the tone at the very end.
    const auto format = PCMStream::format(file);
    EXPECT_NEAR(format.durationSeconds, static_cast<double>(kSeconds), 0.01);
    std::uint64_t frames = 0;
    double tailEnergy = 0;
    const std::uint64_t toneStart = (kSeconds - 1) * kRate;
    PCMStream::read(file, std::nullopt, std::nullopt, std::nullopt, [&](std::span<const float> s, std::size_t n) {
        if (frames + n > toneStart)
            for (std::size_t i = 0; i < n; ++i)
                if (frames + i >= toneStart) tailEnergy += static_cast<double>(s[2 * i]) * s[2 * i];
        frames += n;
    });
    EXPECT_EQ(frames, kSeconds * kRate);
    EXPECT_NEAR(tailEnergy / kRate, 0.25, 0.01);

    // ffprobe, an independent reader.
    const auto probe = testsupport::runTool({"ffprobe", "-v", "error", "-of", "json", "-show_format", "-show_streams",
                                             file.string()});
    const auto info = nlohmann::json::parse(probe.output);
    EXPECT_EQ(info["format"]["format_name"], "wav");
    EXPECT_NEAR(core::parseDouble(info["format"]["duration"].get<std::string>()).value_or(0),
                static_cast<double>(kSeconds), 0.01);
    EXPECT_EQ(info["streams"][0]["bits_per_sample"], 24);
}

// Below the limit the header stays the plain 44-byte RIFF one.
TEST(WAVWriterRF64, ShortFilesStayPlainRIFF) {
    testsupport::TempDir dir;
    const fs::path file = dir / "short.wav";
    {
        WAVWriter writer(file, 48000, 2, 24);
        writer.write(std::vector<float>(9600, 0.25f), 4800);
    }
    EXPECT_EQ(fs::file_size(file), 44u + 4800u * 6);
    EXPECT_EQ(head(file, 4), "RIFF");
}

} // namespace
