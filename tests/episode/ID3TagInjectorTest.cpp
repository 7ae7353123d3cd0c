#include "episode/ID3TagInjector.h"

#include <fstream>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include "MediaProbe.h"
#include "core/Files.h"
#include "support/TestSupport.h"

namespace {

using episode::FFmpegRunner;
using episode::ID3TagInjector;
using episode::PodcastMetadata;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

const Strings kFixed{"-c:a", "copy", "-metadata:s:v", "title=Album cover", "-metadata:s:v", "comment=Cover (front)",
                     "-id3v2_version", "3", "-metadata", "title=T", "-metadata", "artist=A", "-metadata",
                     "album=P", "-metadata", "comment=N"};

Strings concat(std::initializer_list<Strings> parts) {
    Strings out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

PodcastMetadata tags(std::optional<fs::path> artwork = std::nullopt) {
    return PodcastMetadata{"T", "A", "P", std::nullopt, 4, "N", std::nullopt, std::move(artwork)};
}

class ID3Arguments : public testing::Test {
protected:
    void SetUp() override {
        cover = dir / "cover.png";
        std::ofstream(cover) << "png";
    }
    testsupport::TempDir dir;
    fs::path cover;
};

TEST_F(ID3Arguments, NoArtworkNoChapters) {
    EXPECT_EQ(ID3TagInjector::ffmpegArguments(tags(), "/in.mp3", "/out.mp3", std::nullopt),
              concat({{"-y", "-i", "/in.mp3", "-map", "0:a"}, kFixed, {"/out.mp3"}}));
}

TEST_F(ID3Arguments, ChaptersOnlyUseInputOne) {
    EXPECT_EQ(ID3TagInjector::ffmpegArguments(tags(), "/in.mp3", "/out.mp3", fs::path("/ch.txt")),
              concat({{"-y", "-i", "/in.mp3", "-f", "ffmetadata", "-i", "/ch.txt", "-map", "0:a", "-map_chapters", "1"},
                      kFixed,
                      {"/out.mp3"}}));
}

TEST_F(ID3Arguments, ArtworkAndChaptersUseInputTwo) {
    EXPECT_EQ(ID3TagInjector::ffmpegArguments(tags(cover), "/in.mp3", "/out.mp3", fs::path("/ch.txt")),
              concat({{"-y", "-i", "/in.mp3", "-i", cover.string(), "-f", "ffmetadata", "-i", "/ch.txt", "-map", "0:a",
                       "-map_chapters", "2", "-map", "1:0", "-c:v", "copy", "-disposition:v:0", "attached_pic"},
                      kFixed,
                      {"/out.mp3"}}));
}

TEST_F(ID3Arguments, MissingArtworkFileIsLikeNoArtwork) {
    EXPECT_EQ(ID3TagInjector::ffmpegArguments(tags(dir / "gone.png"), "/in.mp3", "/out.mp3", std::nullopt),
              ID3TagInjector::ffmpegArguments(tags(), "/in.mp3", "/out.mp3", std::nullopt));
}

TEST_F(ID3Arguments, YearAndEpisodeAreDecimalSeasonNeverWritten) {
    auto m = tags();
    m.releaseYear = 2026;
    m.episodeNumber = 12;
    m.seasonNumber = 3;
    m.title = "";
    testsupport::CommaDecimalLocale comma;
    const auto args = ID3TagInjector::ffmpegArguments(m, "/in.mp3", "/out.mp3", std::nullopt);
    Strings fixed = kFixed;
    fixed[9] = "title=";
    EXPECT_EQ(args, concat({{"-y", "-i", "/in.mp3", "-map", "0:a"}, fixed,
                            {"-metadata", "date=2026", "-metadata", "track=12", "/out.mp3"}}));
}

// Real files, checked with ffprobe.
class ID3Files : public testing::Test {
protected:
    void SetUp() override {
        testsupport::makeAudio(dir / "in.mp3", "sine=frequency=440:sample_rate=44100:duration=3",
                               {"-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k"});
        testsupport::makeAudio(dir / "in.wav", "sine=frequency=440:sample_rate=48000:duration=2", {"-ac", "2"});
        testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                              "color=c=red:s=64x48", "-frames:v", "1", (dir / "cover.png").string()});
        testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                              "color=c=blue:s=80x80", "-frames:v", "1", (dir / "cover.jpg").string()});
        std::ofstream(dir / "chapters.txt") << ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\n"
                                               "title=Opening\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3000\n"
                                               "title=Ünïcode talk\n";
    }
    PodcastMetadata tricky(std::optional<fs::path> artwork) const {
        return PodcastMetadata{"Title = \"quoted\" 'single'", "-leading dash", "Show ümlaut 日本語 🎙", 7, 2,
                               "Line one\nLine two = \"x\"", 2026, std::move(artwork)};
    }
    void expectTags(const nlohmann::json& t, const PodcastMetadata& m) {
        EXPECT_EQ(mediaprobe::tag(t, "title"), m.title);
        EXPECT_EQ(mediaprobe::tag(t, "artist"), m.artist);
        EXPECT_EQ(mediaprobe::tag(t, "album"), m.podcastName);
        EXPECT_EQ(mediaprobe::tag(t, "comment"), m.showNotes);
        EXPECT_EQ(mediaprobe::tag(t, "date"), "2026");
        EXPECT_EQ(mediaprobe::tag(t, "track"), "7");
    }
    // Only the final names: no temporary file left beside them.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir.path())) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    testsupport::TempDir dir;
};

TEST_F(ID3Files, MP3GetsTagsCoverAndChaptersUnchanged) {
    const auto m = tricky(dir / "cover.png");
    ID3TagInjector injector;
    injector.inject(m, dir / "in.mp3", dir / "out.mp3", dir / "chapters.txt");
    const auto info = mediaprobe::probe(dir / "out.mp3");
    EXPECT_EQ(info["format"]["format_name"], "mp3");
    expectTags(info["format"]["tags"], m);
    const auto* audio = mediaprobe::streamOf(info, "audio");
    ASSERT_TRUE(audio);
    EXPECT_EQ((*audio)["codec_name"], "mp3");
    const auto* pic = mediaprobe::streamOf(info, "video");
    ASSERT_TRUE(pic);
    EXPECT_EQ((*pic)["codec_name"], "png");
    EXPECT_EQ((*pic)["disposition"]["attached_pic"], 1);
    EXPECT_EQ(mediaprobe::tag((*pic)["tags"], "comment"), "Cover (front)");
    EXPECT_EQ(mediaprobe::tag((*pic)["tags"], "title"), "Album cover");
    ASSERT_EQ(info["chapters"].size(), 2u);
    EXPECT_EQ(mediaprobe::tag(info["chapters"][1]["tags"], "title"), "Ünïcode talk");
    EXPECT_EQ(names(), (Strings{"chapters.txt", "cover.jpg", "cover.png", "in.mp3", "in.wav", "out.mp3"}));
}

TEST_F(ID3Files, ExistingOutputIsReplaced) {
    std::ofstream(dir / "out.mp3") << "old";
    ID3TagInjector().inject(tags(), dir / "in.mp3", dir / "out.mp3", std::nullopt);
    EXPECT_EQ(mediaprobe::tag(mediaprobe::probe(dir / "out.mp3")["format"]["tags"], "title"), "T");
}

TEST_F(ID3Files, FFmpegFailureLeavesNothingUnderTheFinalName) {
    std::ofstream(dir / "noise.mp3") << "not audio at all";
    try {
        ID3TagInjector().injectWithFFmpeg(tags(), dir / "noise.mp3", dir / "out.mp3", std::nullopt, nullptr);
        FAIL() << "no error";
    } catch (const FFmpegRunner::FFmpegError& e) {
        EXPECT_EQ(e.kind(), FFmpegRunner::FFmpegError::Kind::executionFailed);
        EXPECT_NE(std::string(e.what()).find("FFmpeg failed (exit "), std::string::npos);
    }
    EXPECT_EQ(names(), (Strings{"chapters.txt", "cover.jpg", "cover.png", "in.mp3", "in.wav", "noise.mp3"}));
}

TEST_F(ID3Files, FolderInTheWayIsAnErrorAndStays) {
    fs::create_directories(dir / "out.mp3/inside");
    EXPECT_THROW(ID3TagInjector().inject(tags(), dir / "in.mp3", dir / "out.mp3", std::nullopt), core::Error);
    EXPECT_TRUE(fs::is_directory(dir / "out.mp3/inside"));
    EXPECT_THROW(ID3TagInjector(FFmpegRunner(std::vector<fs::path>{})).inject(tags(), dir / "in.wav", dir / "out.mp3", std::nullopt),
                 core::Error);
    EXPECT_TRUE(fs::is_directory(dir / "out.mp3/inside"));
}

struct CoverCase {
    std::string file;
    std::string codec;
};
void PrintTo(const CoverCase& c, std::ostream* os) { *os << c.codec; }

class M4AFiles : public ID3Files, public testing::WithParamInterface<CoverCase> {};

TEST_P(M4AFiles, WithoutFFmpegWritesTaggedAACWithCover) {
    const auto m = tricky(dir / GetParam().file);
    ID3TagInjector injector(FFmpegRunner(std::vector<fs::path>{})); // forces the M4A path
    injector.inject(m, dir / "in.wav", dir / "out.m4a", dir / "chapters.txt");
    const auto info = mediaprobe::probe(dir / "out.m4a");
    const auto& t = info["format"]["tags"];
    EXPECT_EQ(mediaprobe::tag(t, "major_brand"), "M4A ");
    expectTags(t, m);
    EXPECT_EQ(mediaprobe::tag(t, "description"), m.showNotes);
    const auto* audio = mediaprobe::streamOf(info, "audio");
    ASSERT_TRUE(audio);
    EXPECT_EQ((*audio)["codec_name"], "aac");
    EXPECT_NEAR(mediaprobe::number((*audio)["duration"]), 2.0, 0.05);
    const auto* pic = mediaprobe::streamOf(info, "video");
    ASSERT_TRUE(pic);
    EXPECT_EQ((*pic)["codec_name"], GetParam().codec);
    EXPECT_EQ((*pic)["disposition"]["attached_pic"], 1);
    EXPECT_TRUE(info["chapters"].empty());
}

INSTANTIATE_TEST_SUITE_P(Covers, M4AFiles,
                         testing::Values(CoverCase{"cover.png", "png"}, CoverCase{"cover.jpg", "mjpeg"}));

// A phone photo's position stays out of the published file: the cover in
// the MP3's APIC frame and in the M4A is the same picture, scan data byte
// for byte, without its EXIF, XMP and comment blocks.
class PhotoCover : public ID3Files, public testing::WithParamInterface<std::string> {};

TEST_P(PhotoCover, KeepsThePictureAndLeavesOutThePosition) {
    const fs::path photo = dir / "photo.jpg";
    testsupport::runTool({"convert-im6.q16", "-size", "400x300", "gradient:orange-navy", "-quality", "85",
                          photo.string()});
    testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-n", "-EXIF:GPSLatitude=48.8584",
                          "-EXIF:GPSLatitudeRef=N", "-EXIF:GPSLongitude=2.2945", "-EXIF:GPSLongitudeRef=E",
                          "-XMP-exif:GPSLatitude=48.8584", "-XMP-exif:GPSLongitude=2.2945", "-Comment=at home",
                          photo.string()});
    auto gpsTags = [](const fs::path& file) {
        return testsupport::runTool({"exiftool", "-a", "-s", "-G", "-gps:all", "-XMP:all", "-Comment", file.string()})
            .output;
    };
    ASSERT_NE(gpsTags(photo).find("GPSLatitude"), std::string::npos); // the source does carry a position

    const bool mp3 = GetParam() == "mp3";
    const ID3TagInjector injector = mp3 ? ID3TagInjector() : ID3TagInjector(FFmpegRunner(std::vector<fs::path>{}));
    const fs::path out = dir / ("out." + GetParam());
    injector.inject(tags(photo), dir / (mp3 ? "in.mp3" : "in.wav"), out, std::nullopt);
    const fs::path cover = dir / "cover_out.jpg";
    testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", out.string(), "-map", "0:v",
                          "-c", "copy", "-f", "image2", cover.string()});

    EXPECT_EQ(gpsTags(cover), "");
    // From the (only) scan header to the end of the image.
    auto scan = [](const std::string& jpeg) {
        const std::size_t at = jpeg.rfind("\xFF\xDA");
        return at == std::string::npos ? std::string() : jpeg.substr(at);
    };
    const std::string source = scan(core::readFile(photo));
    const std::string written = scan(core::readFile(cover));
    ASSERT_GT(source.size(), 100u);
    EXPECT_TRUE(written == source) << written.size() << " scan bytes against " << source.size();
}

INSTANTIATE_TEST_SUITE_P(Containers, PhotoCover, testing::Values("mp3", "m4a"));

// A PNG chunk as a file holds it: length, type, data and the CRC of type
// and data.
std::string pngChunk(const std::string& type, const std::string& data) {
    std::string chunk;
    for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>((data.size() >> shift) & 0xFF);
    chunk += type + data;
    const std::string covered = type + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(covered.data()), static_cast<uInt>(covered.size()));
    for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>((crc >> shift) & 0xFF);
    return chunk;
}

// A phone's PNG screenshot: its text chunks, and its camera and position in
// the EXIF chunk some software still writes as the pre-standard exIf. The
// tag's picture keeps only the chunks that draw it.
TEST_F(ID3Files, PNGCoverKeepsOnlyItsImageDataWithoutTextOrEXIF) {
    const fs::path png = dir / "cover.png";
    testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-n", "-XMP-exif:GPSLatitude=48.8584",
                          "-PNG:Comment=at home", "-PNG:ModifyDate=2024:05:01 10:00:00", png.string()});
    const fs::path photo = dir / "photo.jpg";
    testsupport::runTool({"convert-im6.q16", "-size", "8x8", "xc:gray", photo.string()});
    testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-n", "-EXIF:Make=Xiaomi",
                          "-EXIF:GPSLatitude=15.8333", "-EXIF:GPSLatitudeRef=S", photo.string()});
    const std::string exif = testsupport::runTool({"exiftool", "-b", "-EXIF", photo.string()}).output;
    ASSERT_EQ(exif.substr(0, 2), "MM");
    std::string source = core::readFile(png);
    source.insert(source.find("IDAT") - 4, pngChunk("exIf", exif));
    core::writeFileAtomically(png, source);
    auto described = [](const fs::path& file) {
        return testsupport::runTool({"exiftool", "-a", "-s", "-Make", "-gps:all", file.string()}).output;
    };
    const std::string carried = described(png); // the source does carry them
    ASSERT_NE(carried.find("Xiaomi"), std::string::npos) << carried;
    ASSERT_NE(carried.find("GPSLatitude "), std::string::npos) << carried;
    ASSERT_NE(source.find("tEXt"), std::string::npos);

    ID3TagInjector().inject(tags(png), dir / "in.mp3", dir / "out.mp3", std::nullopt);
    const fs::path cover = dir / "cover_out.png";
    testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", (dir / "out.mp3").string(), "-map",
                          "0:v", "-c", "copy", "-f", "image2", cover.string()});
    const std::string tagged = core::readFile(cover);
    for (const char* chunk : {"tEXt", "zTXt", "iTXt", "tIME", "eXIf", "exIf"})
        EXPECT_EQ(tagged.find(chunk), std::string::npos) << chunk;
    EXPECT_EQ(described(cover), "");
    // The header and the image data, from IHDR to IEND, as they were.
    auto chunk = [](const std::string& file, const char* type) {
        const std::size_t at = file.find(type);
        if (at == std::string::npos || at < 4) return std::string();
        std::size_t length = 0;
        for (std::size_t i = at - 4; i < at; ++i) length = length << 8 | static_cast<unsigned char>(file[i]);
        return file.substr(at - 4, length + 12);
    };
    EXPECT_EQ(chunk(tagged, "IHDR"), chunk(source, "IHDR"));
    EXPECT_TRUE(chunk(tagged, "IDAT") == chunk(source, "IDAT"));
    EXPECT_FALSE(chunk(source, "IDAT").empty());
}

TEST_F(ID3Files, M4AWithoutArtworkOrYearHasNeither) {
    auto m = tags(dir / "missing.png");
    ID3TagInjector(FFmpegRunner(std::vector<fs::path>{})).inject(m, dir / "in.mp3", dir / "out.m4a", std::nullopt);
    const auto info = mediaprobe::probe(dir / "out.m4a");
    EXPECT_EQ(mediaprobe::streamOf(info, "video"), nullptr);
    EXPECT_EQ(mediaprobe::tag(info["format"]["tags"], "date"), "<none>");
    EXPECT_EQ(mediaprobe::tag(info["format"]["tags"], "track"), "<none>");
    EXPECT_EQ(mediaprobe::tag(info["format"]["tags"], "title"), "T");
}

// Sources that are no audio file: a text, and a concat list naming the
// real one (never followed).
class M4ASource : public ID3Files, public testing::WithParamInterface<std::string> {};

TEST_P(M4ASource, ThatIsNoAudioFileFails) {
    core::writeFileAtomically(dir / "noise.wav", GetParam());
    try {
        ID3TagInjector(FFmpegRunner(std::vector<fs::path>{})).inject(tags(), dir / "noise.wav", dir / "out.m4a",
                                                                      std::nullopt);
        FAIL() << "no error";
    } catch (const ID3TagInjector::TagError& e) {
        EXPECT_EQ(e.kind(), ID3TagInjector::TagError::Kind::exportSessionUnavailable);
        EXPECT_STREQ(e.what(), "The M4A exporter is not available for metadata injection.");
    }
    EXPECT_FALSE(fs::exists(dir / "out.m4a"));
    EXPECT_STREQ(ID3TagInjector::TagError::taggingFailed().what(), "Failed to inject metadata tags into audio container.");
}

INSTANTIATE_TEST_SUITE_P(Texts, M4ASource,
                         testing::Values("not audio at all", "ffconcat version 1.0\nfile in.wav\n"));

} // namespace
