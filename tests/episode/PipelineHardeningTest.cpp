// Real-world inputs that used to break an episode: phone-sized 4:2:0 JPEG
// covers, covers that are neither PNG nor JPEG, CMYK covers, covers stored
// on their side, audio that is a FIFO or no audio at all, very long names
// and an output folder whose name begins with "-".

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <optional>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>

#include "MediaProbe.h"
#include "batch/BatchItem.h"
#include "core/Text.h"
#include "episode/AudioVideoPipeline.h"
#include "episode/AudiogramGenerator.h"
#include "episode/CoverArt.h"
#include "episode/FrameRenderer.h"
#include "episode/ID3TagInjector.h"
#include "episode/PipelineSteps.h"
#include "image/picture/EmbeddedPicture.h"
#include "support/BrokenFiles.h"
#include "support/ProfiledColour.h"
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

// A short MP3 tagged with `cover` on both paths: "tagged.mp3" through FFmpeg
// and "tagged.m4a" through libav.
void tagOnBothPaths(const testsupport::TempDir& dir, const fs::path& cover) {
    testsupport::makeAudio(dir / "a.mp3", "sine=frequency=300:sample_rate=44100:duration=2", {"-b:a", "128k"});
    episode::PodcastMetadata tags{"T", "A", "P", 3, std::nullopt, "N", 2026, cover};
    episode::ID3TagInjector(episode::FFmpegRunner()).inject(tags, dir / "a.mp3", dir / "tagged.mp3", std::nullopt);
    episode::ID3TagInjector(episode::FFmpegRunner(std::vector<fs::path>{}))
        .inject(tags, dir / "a.mp3", dir / "tagged.m4a", std::nullopt);
}

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
    EXPECT_FALSE(image::withoutMetadataBlocks(core::readFile(cover))); // neither PNG nor JPEG
    const auto forTag = episode::CoverArt::forTag(cover);
    ASSERT_TRUE(forTag.has_value());
    EXPECT_FALSE(forTag->png);
    EXPECT_EQ(forTag->bytes.substr(0, 3), "\xFF\xD8\xFF");

    tagOnBothPaths(dir, cover);
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

// The cover picture a tagged file carries, byte for byte, read with TagLib.
std::string embeddedCover(const fs::path& file) {
    if (file.extension() == ".mp3") {
        TagLib::MPEG::File mp3(file.c_str());
        const auto frames = mp3.ID3v2Tag() ? mp3.ID3v2Tag()->frameListMap()["APIC"] : TagLib::ID3v2::FrameList();
        if (frames.isEmpty()) return {};
        const auto picture = static_cast<TagLib::ID3v2::AttachedPictureFrame*>(frames.front())->picture();
        return std::string(picture.data(), picture.size());
    }
    TagLib::MP4::File m4a(file.c_str());
    if (!m4a.tag() || !m4a.tag()->contains("covr")) return {};
    const auto covers = m4a.tag()->item("covr").toCoverArtList();
    if (covers.isEmpty()) return {};
    const auto data = covers.front().data();
    return std::string(data.data(), data.size());
}

// A print designer's artwork: a CMYK JPEG with its profile. Players and
// podcast directories that don't manage colour show the inks wrongly, and
// directories ask for RGB: the tags carry an sRGB JPEG in the colours the
// profile gives.
TEST(CoverArt, CmykCoverIsTaggedInSRGBAsItsProfileGivesOnBothPaths) {
    testsupport::TempDir dir;
    const fs::path cover = testsupport::profiledCmykJpeg(dir.path());
    const auto components = [](const fs::path& file) {
        return runTool({"exiftool", "-s3", "-n", "-ColorComponents", "-ICC_Profile:ColorSpaceData", file.string()})
            .output;
    };
    ASSERT_EQ(components(cover), "4\nCMYK\n");
    const cv::Scalar expected = cv::mean(testsupport::lcmsConversion(cover, dir.path()));

    tagOnBothPaths(dir, cover);
    for (const char* out : {"tagged.mp3", "tagged.m4a"}) {
        SCOPED_TRACE(out);
        const fs::path picture = dir / fmt::format("{}.jpg", out);
        core::writeFileAtomically(picture, embeddedCover(dir / out));
        EXPECT_EQ(components(picture), "3\n"); // RGB, without a profile: sRGB
        const mediaprobe::DecodedFrame pixels(picture, 0, dir / fmt::format("{}.png", out));
        ASSERT_TRUE(pixels.ok());
        ASSERT_EQ(pixels.width(), 160);
        ASSERT_EQ(pixels.height(), 120);
        double sum[3] = {};
        for (int y = 0; y < pixels.height(); ++y)
            for (int x = 0; x < pixels.width(); ++x) {
                const mediaprobe::RGB p = pixels.at(x, y);
                sum[0] += p.r;
                sum[1] += p.g;
                sum[2] += p.b;
            }
        const double n = pixels.width() * pixels.height();
        const std::string figures = fmt::format("mean RGB {:.0f}/{:.0f}/{:.0f}, lcms2's {:.0f}/{:.0f}/{:.0f}", sum[0] / n,
                                                sum[1] / n, sum[2] / n, expected[0], expected[1], expected[2]);
        RecordProperty(out, figures);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(sum[c] / n, expected[c], 4.0) << figures;
    }
}

// A 428 × 640 portrait cover, red across its top 30 %, green down its left
// side below that, blue elsewhere, stored as a camera would for an EXIF
// orientation: turned by the opposite of what the orientation asks, so that
// it shows upright. Cameras write EXIF in either byte order, and some (a
// Panasonic DMC-GF1) the orientation as a SLONG instead of a SHORT.
struct Turn {
    int orientation;
    const char* storedTurn;
    const char* byteOrder;
    bool slong;
    // With a colour profile of its own (linear light, so its pure colours
    // stay as they are in sRGB), and checked behind an audiogram's bars too.
    bool profileAndAudiogram;
};

// A linear-light RGB profile with the sRGB primaries.
fs::path linearProfile(const fs::path& path) {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(linear);
    EXPECT_TRUE(cmsSaveProfileToFile(profile, path.c_str()));
    cmsCloseProfile(profile);
    return path;
}

class TurnedCover : public testing::TestWithParam<Turn> {};

// Red at the top, green on the left, blue elsewhere, in a picture of the
// upright cover's shape, where `at` gives the colour at an upright cover's
// point scaled to the picture.
void expectUpright(const std::function<mediaprobe::RGB(double x, double y)>& at, const mediaprobe::RGB& red,
                   const mediaprobe::RGB& green, const mediaprobe::RGB& blue) {
    EXPECT_TRUE(mediaprobe::near(at(214, 150), red, 40));   // top
    EXPECT_TRUE(mediaprobe::near(at(40, 420), green, 40));  // left
    EXPECT_TRUE(mediaprobe::near(at(320, 420), blue, 40));  // the rest
}

TEST_P(TurnedCover, IsUprightInTheTagsOnBothPathsAndBehindTheAudiogram) {
    const Turn turn = GetParam();
    testsupport::TempDir dir;
    const fs::path cover = dir / "cover.jpg";
    runTool({"convert", "-size", "428x640", "xc:blue", "-fill", "red", "-draw", "rectangle 0,0 427,191", "-fill",
             "lime", "-draw", "rectangle 0,192 85,639", "-rotate", turn.storedTurn, "-quality", "95",
             cover.string()});
    std::vector<std::string> exif{"exiftool", "-q", "-overwrite_original", "-n",
                                  fmt::format("-Orientation={}", turn.orientation),
                                  fmt::format("-ExifByteOrder={}", turn.byteOrder), cover.string()};
    if (turn.profileAndAudiogram) exif.push_back("-ICC_Profile<=" + linearProfile(dir / "linear.icc").string());
    runTool(exif);
    if (turn.slong) { // the entry's type, SHORT (3), made SLONG (9): little-endian, the value stays put
        std::string bytes = core::readFile(cover);
        const std::string entry("\x12\x01\x03\x00\x01\x00\x00\x00", 8);
        const std::size_t at = bytes.find(entry);
        ASSERT_NE(at, std::string::npos);
        ASSERT_EQ(bytes.find(entry, at + 1), std::string::npos);
        bytes[at + 2] = '\x09';
        core::writeFileAtomically(cover, bytes);
    }
    ASSERT_EQ(runTool({"exiftool", "-s3", "-n", "-Orientation", "-ICC_Profile:ColorSpaceData", cover.string()}).output,
              fmt::format("{}\n{}", turn.orientation, turn.profileAndAudiogram ? "RGB\n" : ""));

    tagOnBothPaths(dir, cover);
    for (const char* out : {"tagged.mp3", "tagged.m4a"}) {
        SCOPED_TRACE(out);
        const std::string embedded = embeddedCover(dir / out);
        ASSERT_FALSE(embedded.empty());
        if (turn.orientation == 1) { // upright: today's copy, only the metadata left out
            EXPECT_EQ(embedded, image::withoutMetadataBlocks(core::readFile(cover)).value_or("?"));
            continue;
        }
        const fs::path picture = dir / fmt::format("{}.jpg", out);
        core::writeFileAtomically(picture, embedded);
        // Neither the orientation nor a profile: the pixels are upright sRGB.
        EXPECT_EQ(runTool({"exiftool", "-s3", "-n", "-Orientation", "-ICC_Profile:all", picture.string()}).output,
                  "");
        const mediaprobe::DecodedFrame pixels(picture, 0, dir / fmt::format("{}.png", out));
        ASSERT_TRUE(pixels.ok());
        EXPECT_EQ(pixels.width(), 428);
        EXPECT_EQ(pixels.height(), 640);
        expectUpright([&](double x, double y) { return pixels.at(static_cast<int>(x), static_cast<int>(y)); },
                      {255, 0, 0}, {0, 255, 0}, {0, 0, 255});
    }

    // Behind the bars of a square audiogram: scaled by 1080 / 428 to cover
    // the frame, its top and bottom cut evenly, dimmed by 45 % black.
    if (!turn.profileAndAudiogram) return;
    const episode::AudiogramGenerator::AudiogramConfig config(episode::AudiogramGenerator::AspectRatio::square, 0.6,
                                                              "#3B82F6", cover, 30, {}, std::nullopt);
    episode::AudiogramGenerator().generate(dir / "a.mp3", dir / "out.mp4", config);
    const mediaprobe::DecodedFrame frame(dir / "out.mp4", 0, dir / "frame.png");
    ASSERT_TRUE(frame.ok());
    const double s = 1080.0 / 428, top = (640 * s - 1080) / 2;
    expectUpright([&](double x, double y) { return frame.at(static_cast<int>(x * s), static_cast<int>(y * s - top)); },
                  {140, 0, 0}, {0, 140, 0}, {0, 0, 140});
}

INSTANTIATE_TEST_SUITE_P(Orientations, TurnedCover,
                         testing::Values(Turn{1, "0", "MM", false, false}, Turn{3, "180", "MM", false, false},
                                         Turn{6, "-90", "MM", false, false}, Turn{8, "90", "II", false, false},
                                         Turn{6, "-90", "II", true, true}),
                         [](const auto& info) {
                             return fmt::format("Orientation{}{}{}", info.param.orientation, info.param.byteOrder,
                                                info.param.slong ? "AsSLONG" : "");
                         });

// Runs one episode on another thread. A FIFO opened for reading blocks until
// a writer comes: when the run hasn't ended after a generous while, writers
// are let in on `fifo` until it does, so that a regression fails the test
// instead of hanging the suite. Returns the error text, or "" on success.
std::string failureOf(const episode::MultiFormatExportRequest& q, const fs::path& fifo,
                      std::vector<std::string>& log) {
    auto run = std::async(std::launch::async, [&] {
        try {
            AudioVideoPipeline().processMultiFormat(q, {}, [&](const std::string& line) { log.push_back(line); });
            return std::string();
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
    });
    bool blocked = false;
    while (run.wait_for(blocked ? std::chrono::seconds(1) : std::chrono::seconds(120)) != std::future_status::ready) {
        blocked = true;
        // Opens only while a reader waits; closing it ends that reader's file.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0) ::close(writer);
    }
    EXPECT_FALSE(blocked) << "the episode waited on " << fifo.filename();
    return run.get();
}

// Audio that can't be an episode's, intro or outro: the episode fails with
// a text a user can act on, before any audio work (no loudness or clean-up
// line), and the next episode goes through.
struct FailingAudio {
    const char* name;
    std::function<void(const testsupport::TempDir&, episode::MultiFormatExportRequest&)> prepare;
    const char* text;
    const char* logged; // the start of a log line that must be there; empty: none
};
void PrintTo(const FailingAudio& c, std::ostream* os) { *os << c.name; }

class FailingInput : public testing::TestWithParam<FailingAudio> {};

TEST_P(FailingInput, FailsWithItsTextAndTheNextEpisodeCompletes) {
    const FailingAudio& c = GetParam();
    testsupport::TempDir dir;
    fs::create_directory(dir / "tmp");
    const ScopedTmpDir tmp(dir / "tmp");
    testsupport::makeAudio(dir / "x.wav", "sine=frequency=440:sample_rate=48000:duration=2");
    episode::MultiFormatExportRequest q(dir / "x.wav", dir / "out", "y", {}, true, false, false, false,
                                       audio::LoudnessTarget::stereoPodcast());
    c.prepare(dir, q);
    std::vector<std::string> log;
    EXPECT_EQ(failureOf(q, dir / "y.wav", log), c.text);
    for (const auto& line : log) {
        EXPECT_EQ(line.find(" LUFS -> "), std::string::npos) << line;
        EXPECT_EQ(line.find(": Clean-up: "), std::string::npos) << line;
    }
    if (*c.logged) {
        const bool found = std::any_of(log.begin(), log.end(), [&](const auto& l) { return l.rfind(c.logged, 0) == 0; });
        EXPECT_TRUE(found) << fmt::format("{}", fmt::join(log, "\n"));
    }

    const episode::MultiFormatExportRequest next(dir / "x.wav", dir / "out", "x", {}, true, false, false, false,
                                                 audio::LoudnessTarget::stereoPodcast());
    const auto files = AudioVideoPipeline().processMultiFormat(next, {}, {});
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(fs::is_regular_file(files[0]));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FailingInput,
    testing::Values(
        FailingAudio{"FifoEpisode",
                     [](const auto& dir, auto& q) { q.sourceURL = testsupport::makeFifo(dir / "y.wav"); },
                     "y.wav is not a regular file", ""},
        FailingAudio{"FifoIntro", [](const auto& dir, auto& q) { q.introURL = testsupport::makeFifo(dir / "y.wav"); },
                     "The intro music y.wav is not a regular file", ""},
        FailingAudio{"FifoOutro", [](const auto& dir, auto& q) { q.outroURL = testsupport::makeFifo(dir / "y.wav"); },
                     "The outro music y.wav is not a regular file", ""},
        FailingAudio{"TextFileAsOutro",
                     [](const auto& dir, auto& q) {
                         q.outroURL = dir / "notes.mp3";
                         core::writeFileAtomically(*q.outroURL, std::string(40, 'x') + "\nThis is a text file.\n");
                     },
                     "The outro music notes.mp3 holds no audio that can be decoded (not an audio file, or damaged)",
                     "notes.mp3: libav says \"Failed to read frame size"},
        FailingAudio{"EmptyIntro",
                     [](const auto& dir, auto& q) {
                         q.introURL = dir / "empty.wav";
                         core::writeFileAtomically(*q.introURL, "");
                     },
                     "The intro music empty.wav could not be read: the file is empty", ""},
        // Queued as a recording (its size read), then replaced by a FIFO.
        FailingAudio{"SwappedForAFifoAfterQueueing",
                     [](const auto& dir, auto& q) {
                         testsupport::makeAudio(dir / "y.wav", "sine=frequency=220:sample_rate=48000:duration=1");
                         const batch::BatchItem item(core::Uuid::random(), dir / "y.wav");
                         EXPECT_GT(item.fileSize, 0);
                         fs::remove(dir / "y.wav");
                         q.sourceURL = testsupport::makeFifo(item.sourceURL);
                     },
                     "y.wav is not a regular file", ""},
        FailingAudio{"TextFileAsEpisode",
                     [](const auto& dir, auto& q) {
                         q.sourceURL = dir / "notes.mp3";
                         core::writeFileAtomically(q.sourceURL, std::string(40, 'x') + "\nThis is a text file.\n");
                     },
                     "notes.mp3 holds no audio that can be decoded (not an audio file, or damaged)",
                     "notes.mp3: libav says \"Failed to read frame size"}),
    [](const auto& info) { return std::string(info.param.name); });

// The EXIF block of a cover: "Exif", a little-endian TIFF header and a
// first directory that claims 65535 entries and holds none.
const std::string kShortExif("\xFF\xE1\x00\x12"
                             "Exif\0\0II*\0\x08\x00\x00\x00\xFF\xFF",
                             20);

// Covers an episode's package can't use and covers it can, however odd:
// the episode completes without waiting, the MP3 carries the cover or none,
// the audiogram is drawn, and a cover left out is said once in the log.
struct EpisodeCover {
    const char* name;
    std::function<fs::path(const testsupport::TempDir&)> make;
    const char* reason; // why it is left out; empty: it is used
};
void PrintTo(const EpisodeCover& c, std::ostream* os) { *os << c.name; }

class CoverOfAnEpisode : public testing::TestWithParam<EpisodeCover> {};

TEST_P(CoverOfAnEpisode, IsUsedOrLeftOutWithOneLineAndTheEpisodeCompletes) {
    const EpisodeCover& c = GetParam();
    testsupport::TempDir dir;
    fs::create_directory(dir / "tmp");
    const ScopedTmpDir tmp(dir / "tmp");
    testsupport::makeAudio(dir / "x.wav", "sine=frequency=440:sample_rate=48000:duration=1.5");
    const fs::path cover = c.make(dir);
    episode::PodcastMetadata tags{"T", "A", "", 1, std::nullopt, "N", 2026, cover};
    episode::MultiFormatExportRequest q(dir / "x.wav", dir / "out", "ep", tags, false, true, false, true,
                                        audio::LoudnessTarget::stereoPodcast());
    q.audiogramSeconds = 1;
    std::vector<std::string> log;
    EXPECT_EQ(failureOf(q, dir / "fifo", log), "");

    std::vector<std::string> leftOut;
    for (const auto& line : log)
        if (line.find("cover art") != std::string::npos) leftOut.push_back(line);
    const std::string embedded = embeddedCover(dir / "out" / "ep_RSS_192k.mp3");
    if (*c.reason) {
        EXPECT_EQ(leftOut, std::vector<std::string>{fmt::format(
                               "cover.jpg can't be used as cover art ({}); the episode is published without it",
                               c.reason)});
        EXPECT_EQ(embedded, "");
    } else {
        EXPECT_EQ(leftOut, std::vector<std::string>{});
        EXPECT_EQ(embedded, image::withoutMetadataBlocks(core::readFile(cover)).value_or("?"));
    }
    const auto video = mediaprobe::probe(dir / "out" / "ep_Audiogram.mp4");
    ASSERT_NE(mediaprobe::streamOf(video, "video"), nullptr);
    EXPECT_EQ((*mediaprobe::streamOf(video, "video"))["width"], 1080);
}

INSTANTIATE_TEST_SUITE_P(
    Covers, CoverOfAnEpisode,
    testing::Values(
        // A JPEG that is nothing but that EXIF block (22 bytes).
        EpisodeCover{"ShortExifAlone",
                     [](const auto& dir) {
                         core::writeFileAtomically(dir / "cover.jpg", "\xFF\xD8" + kShortExif);
                         return dir / "cover.jpg";
                     },
                     "the file is damaged: the header can't be read"},
        // A whole picture with that EXIF block before its tables: the block
        // says nothing, the picture is whole.
        EpisodeCover{"ShortExifInAWholePicture",
                     [](const auto& dir) {
                         const fs::path file = picture(dir / "cover.jpg", 300, 300, "yuvj420p");
                         std::string bytes = core::readFile(file);
                         bytes.insert(bytes.find("\xFF\xDB"), kShortExif);
                         core::writeFileAtomically(file, bytes);
                         return file;
                     },
                     ""},
        // A concat list named like a picture, listing a FIFO beside it: never
        // opened as a list, so nothing waits on the FIFO.
        EpisodeCover{"ConcatListNextToAFifo",
                     [](const auto& dir) {
                         testsupport::makeFifo(dir / "fifo");
                         core::writeFileAtomically(dir / "cover.jpg", "ffconcat version 1.0\nfile fifo\n");
                         return dir / "cover.jpg";
                     },
                     "not an image"},
        EpisodeCover{"Missing", [](const auto& dir) { return dir / "cover.jpg"; }, "not found"}),
    [](const auto& info) { return std::string(info.param.name); });

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
