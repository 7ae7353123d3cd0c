// Real-world inputs that used to break an episode: phone-sized 4:2:0 JPEG
// covers, covers that are neither PNG nor JPEG, very long names and an
// output folder whose name begins with "-".

#include <cstdlib>
#include <optional>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "MediaProbe.h"
#include "core/Text.h"
#include "episode/AudioVideoPipeline.h"
#include "episode/AudiogramGenerator.h"
#include "episode/CoverArt.h"
#include "episode/FrameRenderer.h"
#include "episode/ID3TagInjector.h"
#include "episode/PipelineSteps.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using episode::AudioVideoPipeline;
using testsupport::runTool;

// A still picture made by ffmpeg in the given pixel format and codec.
fs::path picture(const fs::path& file, int width, int height, const std::string& pixelFormat,
                 const std::vector<std::string>& codec = {}) {
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                                  "-i", fmt::format("color=c=0x3366CC:s={}x{}", width, height), "-frames:v", "1",
                                  "-pix_fmt", pixelFormat};
    argv.insert(argv.end(), codec.begin(), codec.end());
    argv.push_back(file.string());
    runTool(argv);
    return file;
}

using testsupport::ScopedTmpDir;

// The common podcast cover sizes, none a multiple of 16 wide: libswscale
// used to write past the end of the picture's buffer.
class FourTwoZeroCover : public testing::TestWithParam<int> {};

TEST_P(FourTwoZeroCover, DecodesWithoutOverrunAndFillsTheAudiogram) {
    const int size = GetParam();
    testsupport::TempDir dir;
    const fs::path cover = picture(dir / "cover.jpg", size, size, "yuvj420p");
    const auto probed = mediaprobe::probe(cover);
    ASSERT_EQ((*mediaprobe::streamOf(probed, "video"))["pix_fmt"], "yuvj420p");

    const auto image = episode::FrameRenderer::loadImage(cover);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, size);
    EXPECT_EQ(image->height, size);
    const std::size_t at = static_cast<std::size_t>(size / 2) * image->stride + static_cast<std::size_t>(size / 2) * 4;
    EXPECT_NEAR(image->pixels[at + 0], 0xCC, 6); // B G R A
    EXPECT_NEAR(image->pixels[at + 1], 0x66, 6);
    EXPECT_NEAR(image->pixels[at + 2], 0x33, 6);
    EXPECT_EQ(image->pixels[at + 3], 255);

    testsupport::makeAudio(dir / "a.wav", "sine=frequency=300:sample_rate=48000:duration=1.2");
    const episode::AudiogramGenerator::AudiogramConfig config(episode::AudiogramGenerator::AspectRatio::square, 1.0,
                                                              "#3B82F6", cover, 30, {}, std::string("Show"));
    episode::AudiogramGenerator().generate(dir / "a.wav", dir / "out.mp4", config);
    const auto video = mediaprobe::probe(dir / "out.mp4");
    EXPECT_EQ((*mediaprobe::streamOf(video, "video"))["width"], 1080);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FourTwoZeroCover, testing::Values(1400, 1500, 3000));

// Covers a phone or an editor writes: converted to JPEG for the tag on both
// paths, never failing the episode.
struct CoverCase {
    const char* name;
    const char* file;
    std::vector<std::string> codec;
    const char* pixelFormat;
};

class OtherCover : public testing::TestWithParam<CoverCase> {};

TEST_P(OtherCover, IsTaggedAsJPEGOnBothPaths) {
    const CoverCase& c = GetParam();
    testsupport::TempDir dir;
    fs::path cover = dir / c.file;
    if (cover.extension() == ".heic") // libav writes no HEIF; ImageMagick (libheif) does
        runTool({"convert-im6.q16", picture(dir / "cover.png", 640, 480, c.pixelFormat).string(), cover.string()});
    else
        picture(cover, 640, 480, c.pixelFormat, c.codec);
    EXPECT_FALSE(episode::CoverArt::isPNGOrJPEG(cover));
    const auto forTag = episode::CoverArt::forTag(cover);
    ASSERT_TRUE(forTag.has_value());
    EXPECT_FALSE(forTag->png);
    EXPECT_EQ(forTag->bytes.substr(0, 3), "\xFF\xD8\xFF");

    testsupport::makeAudio(dir / "a.mp3", "sine=frequency=300:sample_rate=44100:duration=2", {"-b:a", "128k"});
    episode::PodcastMetadata tags{"T", "A", "P", 3, std::nullopt, "N", 2026, cover};
    episode::ID3TagInjector(episode::FFmpegRunner()).inject(tags, dir / "a.mp3", dir / "tagged.mp3", std::nullopt);
    episode::ID3TagInjector(episode::FFmpegRunner(std::vector<fs::path>{}))
        .inject(tags, dir / "a.mp3", dir / "tagged.m4a", std::nullopt);
    for (const char* out : {"tagged.mp3", "tagged.m4a"}) {
        const auto info = mediaprobe::probe(dir / out);
        const auto* pic = mediaprobe::streamOf(info, "video");
        ASSERT_NE(pic, nullptr) << out;
        EXPECT_EQ((*pic)["codec_name"], "mjpeg") << out;
        EXPECT_EQ((*pic)["width"], 640) << out;
        EXPECT_EQ((*pic)["disposition"]["attached_pic"], 1) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, OtherCover,
                         testing::Values(CoverCase{"WebP", "cover.webp", {"-c:v", "libwebp"}, "yuv420p"},
                                         CoverCase{"TIFF", "cover.tiff", {"-c:v", "tiff"}, "rgb24"},
                                         CoverCase{"BMP", "cover.bmp", {}, "bgr24"},
                                         CoverCase{"HEIC", "cover.heic", {}, "rgb24"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CoverArt, UnreadableCoverIsLeftOutNotAFailure) {
    testsupport::TempDir dir;
    core::writeFileAtomically(dir / "cover.webp", "RIFF....WEBPnot really");
    testsupport::makeAudio(dir / "a.mp3", "sine=frequency=300:sample_rate=44100:duration=1", {"-b:a", "128k"});
    episode::PodcastMetadata tags{"T", "A", "P", 3, std::nullopt, "N", 2026, dir / "cover.webp"};
    episode::ID3TagInjector().inject(tags, dir / "a.mp3", dir / "tagged.mp3", std::nullopt);
    EXPECT_EQ(mediaprobe::streamOf(mediaprobe::probe(dir / "tagged.mp3"), "video"), nullptr);
}

TEST(BaseName, CutOnAUtf8BoundaryToFitEveryDeliverable) {
    namespace text = episode::pipelinetext;
    const std::string e = "\u00e9"; // two bytes
    std::string base;
    for (int i = 0; i < 200; ++i) base += e;
    EXPECT_EQ(text::fittedBaseName(base, 19).size(), 236u);
    EXPECT_EQ(text::fittedBaseName(base, 20).size(), 234u); // 235 would split a character
    EXPECT_TRUE(core::isValidUtf8(text::fittedBaseName(base, 20)));
    EXPECT_EQ(text::fittedBaseName("short", 19), "short");
}

// A 250-byte input name, a relative output folder called "-out" and every
// deliverable: processed whole, each name within NAME_MAX, nothing left.
TEST(AudioVideoPipelineNames, LongNameAndDashFolderProcessedWhole) {
    testsupport::TempDir dir;
    fs::create_directory(dir / "tmp");
    const ScopedTmpDir tmp(dir / "tmp");
    std::string stem;
    while (stem.size() < 246) stem += "\u00e9";
    const std::string inputName = stem + ".wav"; // 250 bytes
    ASSERT_EQ(inputName.size(), 250u);
    testsupport::makeAudio(dir / inputName, "sine=frequency=440:sample_rate=48000:duration=3");
    runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
             "color=c=red:s=1400x1400", "-frames:v", "1", "-pix_fmt", "yuvj420p", (dir / "cover.jpg").string()});

    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    episode::PodcastMetadata tags{"T", "A", "Show", 1, std::nullopt, "N", 2026, fs::path("cover.jpg")};
    episode::MultiFormatExportRequest q(fs::path(inputName), fs::path("-out"), stem + "_01", tags, true, true, true,
                                        true, audio::LoudnessTarget::stereoPodcast());
    q.audiogramSeconds = 2;
    std::vector<fs::path> files;
    try {
        files = AudioVideoPipeline().processMultiFormat(q, {}, {});
    } catch (...) {
        fs::current_path(cwd);
        throw;
    }
    fs::current_path(cwd);
    ASSERT_EQ(files.size(), 4u);
    for (const auto& f : files) {
        EXPECT_TRUE(fs::is_regular_file(f)) << f;
        EXPECT_EQ(f.parent_path(), dir / "-out");
        const std::string name = f.filename().string();
        EXPECT_LE(name.size(), 255u) << name;
        EXPECT_TRUE(core::isValidUtf8(name));
        EXPECT_EQ(name.rfind(stem.substr(0, 200), 0), 0u);
    }
    EXPECT_NE(mediaprobe::streamOf(mediaprobe::probe(files[1]), "video"), nullptr); // the cover
    std::size_t left = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir / "tmp")) ++left;
    EXPECT_EQ(left, 0u);
    std::size_t out = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir / "-out")) ++out;
    EXPECT_EQ(out, 4u);
}

} // namespace
