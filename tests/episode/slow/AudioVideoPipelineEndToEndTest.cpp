// The whole package of one generated episode, checked with ffprobe, ffmpeg's
// ebur128 filter and plain file reads.

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/Files.h"
#include "core/Numbers.h"
#include "episode/AudioVideoPipeline.h"
#include "episode/MediaProbe.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using episode::AudioVideoPipeline;
using testsupport::runTool;

const char* kPartOne =
    "Welcome back to the workshop podcast. Today we talk about building a small wooden boat in a garage. "
    "We start with the plans and the timber. Then we cut the frames and set them on a strong back. "
    "Is it hard work? It is, but it is also a lot of fun. The planks go on one by one, and each one is "
    "steamed so that it bends around the frames. We glue and screw every plank. After that the hull is "
    "turned over, sanded and painted. Three coats of paint keep the water out.";
const char* kPartTwo =
    "In the second half we answer questions from listeners. One listener asks which wood is best for a "
    "first boat. We like marine plywood because it is light, strong and easy to find. Another listener "
    "wants to know how long the build takes. Plan for about two hundred hours spread over one winter. "
    "Thanks for listening, and see you next week with more stories from the workshop.";

// "I: -16.0 LUFS" and "Peak: -1.6 dBFS" of the ebur128 filter's summary.
struct Loudness {
    double integrated = 0;
    double truePeak = 0;
};

std::optional<double> summaryValue(const std::string& out, const std::string& key) {
    const auto summary = out.rfind("Summary:");
    if (summary == std::string::npos) return std::nullopt;
    const auto at = out.find(key, summary);
    if (at == std::string::npos) return std::nullopt;
    std::size_t begin = at + key.size();
    while (begin < out.size() && out[begin] == ' ') ++begin;
    std::size_t end = begin;
    while (end < out.size() && out[end] != ' ' && out[end] != '\n') ++end;
    return core::parseDouble(out.substr(begin, end - begin));
}

Loudness ebur128(const fs::path& file, double from = 0, double length = 0) {
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-hide_banner", "-nostats"};
    if (length > 0) {
        argv.insert(argv.end(), {"-ss", core::formatFixed(from, 3), "-t", core::formatFixed(length, 3)});
    }
    argv.insert(argv.end(), {"-i", file.string(), "-filter_complex", "ebur128=peak=true", "-f", "null", "-"});
    const auto out = runTool(argv).output;
    return {summaryValue(out, "I:").value_or(99), summaryValue(out, "Peak:").value_or(99)};
}

double durationOf(const nlohmann::json& info) { return mediaprobe::number(info["format"]["duration"]); }

// Room tone at either end as ACX counts it, read from ffmpeg's float decode:
// 10 ms windows from the start, quiet at or below -55 dBFS (mean of x² over
// the window's samples); the head ends at the first loud window, the tail
// starts after the last one.
struct Ends {
    double head = 0;
    double tail = 0;
};

Ends roomToneOf(const fs::path& file, const fs::path& scratch) {
    const auto info = mediaprobe::probe(file);
    const auto& sound = *mediaprobe::streamOf(info, "audio");
    const double rate = mediaprobe::number(sound["sample_rate"]);
    const auto channels = static_cast<std::size_t>(mediaprobe::number(sound["channels"]));
    const fs::path raw = scratch / "roomtone.f32";
    runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", file.string(), "-f", "f32le",
             "-c:a", "pcm_f32le", raw.string()});
    const std::string bytes = core::readFile(raw);
    std::vector<float> x(bytes.size() / sizeof(float));
    std::memcpy(x.data(), bytes.data(), x.size() * sizeof(float));
    const std::size_t frames = x.size() / channels;
    const auto window = static_cast<std::size_t>(std::lround(rate * 0.01));
    std::optional<std::size_t> firstLoud;
    std::size_t lastLoudEnd = 0;
    for (std::size_t start = 0; start < frames; start += window) {
        const std::size_t end = std::min(frames, start + window);
        double sum = 0;
        for (std::size_t i = start * channels; i < end * channels; ++i) sum += static_cast<double>(x[i]) * x[i];
        if (10 * std::log10(std::max(1e-12, sum / static_cast<double>((end - start) * channels))) <= -55) continue;
        if (!firstLoud) firstLoud = start;
        lastLoudEnd = end;
    }
    if (!firstLoud) return {static_cast<double>(frames) / rate, static_cast<double>(frames) / rate};
    return {static_cast<double>(*firstLoud) / rate, static_cast<double>(frames - lastLoudEnd) / rate};
}

// The generated episode and its music, made once for every case below.
class PipelineEndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testsupport::TempDir();
        const auto& d = *dir_;
        runTool({"espeak-ng", "-s", "150", "-w", (d / "one.wav").string(), kPartOne});
        runTool({"espeak-ng", "-s", "150", "-w", (d / "two.wav").string(), kPartTwo});
        // Speech, a long pause, speech; at 48 kHz stereo with 50 Hz hum and noise.
        runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", (d / "one.wav").string(),
                 "-i", (d / "two.wav").string(), "-f", "lavfi", "-i", "sine=frequency=50:sample_rate=48000",
                 "-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.004:sample_rate=48000", "-filter_complex",
                 "[0:a]aresample=48000,apad=pad_dur=6[a];[1:a]aresample=48000[b];[a][b]concat=n=2:v=0:a=1[s];"
                 "[2:a]volume=0.02[h];[s][h][3:a]amix=inputs=3:duration=first:normalize=0,"
                 "aformat=channel_layouts=stereo",
                 "-ar", "48000", "-c:a", "pcm_s24le", (d / "episode.wav").string()});
        testsupport::makeAudio(d / "intro.wav", "sine=frequency=440:sample_rate=44100:duration=5", {"-ac", "1"});
        testsupport::makeAudio(d / "outro.wav", "sine=frequency=660:sample_rate=48000:duration=4", {"-ac", "2"});
        runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                 "color=c=0x884422:s=600x600", "-frames:v", "1", (d / "cover.png").string()});
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    void SetUp() override {
        tmp_ = std::make_unique<testsupport::TempDir>();
        if (const char* old = std::getenv("TMPDIR")) previousTmp_ = old;
        ::setenv("TMPDIR", tmp_->path().c_str(), 1);
    }
    void TearDown() override {
        if (previousTmp_) ::setenv("TMPDIR", previousTmp_->c_str(), 1);
        else ::unsetenv("TMPDIR");
    }
    bool workFolderLeft() const { return fs::directory_iterator(tmp_->path()) != fs::directory_iterator(); }

    static episode::PodcastMetadata tags() {
        episode::PodcastMetadata m;
        m.title = "Building a Boat";
        m.artist = "Ada Plank";
        m.podcastName = "Workshop Talk";
        m.episodeNumber = 12;
        m.showNotes = "Frames, planks and paint.";
        m.releaseYear = 2026;
        m.artworkURL = *dir_ / "cover.png";
        return m;
    }
    static episode::MultiFormatExportRequest request(const fs::path& out, bool everything) {
        episode::MultiFormatExportRequest q(*dir_ / "episode.wav", out, "ep", tags(), true, true, everything,
                                            everything, audio::LoudnessTarget::stereoPodcast());
        if (everything) {
            q.cleanup = audio::CleanupOptions(true, audio::HumMode::autoDetect, false, false, false, 0);
            q.introURL = *dir_ / "intro.wav";
            q.outroURL = *dir_ / "outro.wav";
            q.generateTranscripts = true;
            q.captionAudiogram = true;
            q.audiogramClip = episode::ClipChoice::automatic();
            q.audiogramSeconds = 20;
            q.chapters = episode::ChapterSetting::automatic();
        }
        return q;
    }

    static testsupport::TempDir* dir_;
    std::unique_ptr<testsupport::TempDir> tmp_;
    std::optional<std::string> previousTmp_;
};

testsupport::TempDir* PipelineEndToEnd::dir_ = nullptr;

std::vector<std::string> names(const std::vector<fs::path>& files) {
    std::vector<std::string> n;
    for (const auto& f : files) n.push_back(f.filename().string());
    return n;
}

} // namespace

TEST_F(PipelineEndToEnd, WholePackage) {
    const fs::path out = *dir_ / "package";
    std::vector<std::string> log;
    std::vector<double> fractions;
    const auto files = AudioVideoPipeline().processMultiFormat(
        request(out, true), [&](double f, const std::string&) { fractions.push_back(f); },
        [&](const std::string& line) { log.push_back(line); });
    EXPECT_EQ(names(files), (std::vector<std::string>{"ep_Master_-16LUFS.wav", "ep_Chapters.json", "ep_Chapters.txt",
                                                      "ep_RSS_192k.mp3", "ep_WhisperRef_16k.wav", "ep_Transcript.srt",
                                                      "ep_Transcript.vtt", "ep_Transcript.txt", "ep_Audiogram.mp4"}))
        << fmt::format("{}", fmt::join(log, "\n"));
    for (const auto& f : files) EXPECT_GT(fs::file_size(f), 0u) << f;
    EXPECT_FALSE(workFolderLeft());
    EXPECT_EQ(fractions, (std::vector<double>{0.05, 0.25, 0.3, 0.45, 0.6, 0.85, 1.0}));

    // Master: 24-bit, at the target, under the ceiling; the mono intro as loud
    // as the target inside the stereo master.
    const auto master = out / "ep_Master_-16LUFS.wav";
    const auto masterInfo = mediaprobe::probe(master);
    EXPECT_EQ((*mediaprobe::streamOf(masterInfo, "audio"))["codec_name"], "pcm_s24le");
    EXPECT_EQ(mediaprobe::number((*mediaprobe::streamOf(masterInfo, "audio"))["channels"]), 2);
    const Loudness whole = ebur128(master);
    EXPECT_NEAR(whole.integrated, -16, 0.5);
    EXPECT_LE(whole.truePeak, -1.5 + 0.1);
    EXPECT_NEAR(ebur128(master, 0.2, 4.6).integrated, -16, 1.0);
    const double masterSeconds = durationOf(masterInfo);
    EXPECT_NEAR(ebur128(master, masterSeconds - 3.8, 3.6).integrated, -16, 1.0);

    // MP3: 192 kb/s, ID3v2.3 with the request's tags, the cover, the chapters.
    const auto mp3 = out / "ep_RSS_192k.mp3";
    EXPECT_EQ(core::readFile(mp3).substr(0, 4), std::string("ID3\x03", 4));
    const auto mp3Info = mediaprobe::probe(mp3);
    const auto* sound = mediaprobe::streamOf(mp3Info, "audio");
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(mediaprobe::number((*sound)["bit_rate"]), 192000);
    const auto& t = mp3Info["format"]["tags"];
    EXPECT_EQ(mediaprobe::tag(t, "title"), "Building a Boat");
    EXPECT_EQ(mediaprobe::tag(t, "artist"), "Ada Plank");
    EXPECT_EQ(mediaprobe::tag(t, "album"), "Workshop Talk");
    EXPECT_EQ(mediaprobe::tag(t, "track"), "12");
    EXPECT_EQ(mediaprobe::tag(t, "comment"), "Frames, planks and paint.");
    EXPECT_EQ(mediaprobe::tag(t, "date"), "2026");
    EXPECT_NE(mediaprobe::streamOf(mp3Info, "video"), nullptr); // the cover
    const auto chapters = nlohmann::json::parse(core::readFile(out / "ep_Chapters.json"))["chapters"];
    ASSERT_GE(chapters.size(), 2u);
    EXPECT_EQ(chapters.front()["startTime"].get<double>(), 0);
    EXPECT_EQ(chapters.front()["title"], "Intro");
    EXPECT_EQ(chapters.back()["title"], "Outro");
    ASSERT_EQ(mp3Info["chapters"].size(), chapters.size());
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        EXPECT_NEAR(mediaprobe::number(mp3Info["chapters"][i]["start_time"]), chapters[i]["startTime"].get<double>(),
                    0.002);
        EXPECT_EQ(mediaprobe::tag(mp3Info["chapters"][i]["tags"], "title"), chapters[i]["title"].get<std::string>());
    }

    // Whisper reference: 16 kHz mono 16-bit, as long as the master.
    const auto ref = mediaprobe::probe(out / "ep_WhisperRef_16k.wav");
    const auto& refSound = *mediaprobe::streamOf(ref, "audio");
    EXPECT_EQ(refSound["codec_name"], "pcm_s16le");
    EXPECT_EQ(mediaprobe::number(refSound["sample_rate"]), 16000);
    EXPECT_EQ(mediaprobe::number(refSound["channels"]), 1);
    EXPECT_NEAR(durationOf(ref), masterSeconds, 0.001);

    // Captions read by ffmpeg, the first cue not before the intro's end.
    const double introSeconds = 5.0;
    for (const char* name : {"ep_Transcript.srt", "ep_Transcript.vtt"}) {
        const auto cues = mediaprobe::probe(out / name, {"-show_packets"});
        ASSERT_FALSE(cues["packets"].empty()) << name;
        EXPECT_GE(mediaprobe::number(cues["packets"][0]["pts_time"]), introSeconds - 0.02) << name;
    }

    // Audiogram: H.264 and AAC, as long as the clip.
    const auto video = mediaprobe::probe(out / "ep_Audiogram.mp4");
    ASSERT_NE(mediaprobe::streamOf(video, "video"), nullptr);
    ASSERT_NE(mediaprobe::streamOf(video, "audio"), nullptr);
    EXPECT_EQ((*mediaprobe::streamOf(video, "video"))["codec_name"], "h264");
    EXPECT_EQ((*mediaprobe::streamOf(video, "audio"))["codec_name"], "aac");
    EXPECT_NEAR(durationOf(video), 20, 0.15);
}

TEST_F(PipelineEndToEnd, ACXVariantAt44kWithReport) {
    const fs::path out = *dir_ / "acx";
    auto q = request(out, false);
    q.targetLUFS = audio::LoudnessTarget::audibleACX();
    std::vector<std::string> log;
    const auto files = AudioVideoPipeline().processMultiFormat(q, {}, [&](const std::string& l) { log.push_back(l); });
    EXPECT_EQ(names(files), (std::vector<std::string>{"ep_Master_ACX.wav", "ep_ACX_Check.txt", "ep_RSS_192k.mp3"}));
    EXPECT_FALSE(core::readFile(out / "ep_ACX_Check.txt").empty());
    const auto mp3 = mediaprobe::probe(out / "ep_RSS_192k.mp3");
    EXPECT_EQ(mediaprobe::number((*mediaprobe::streamOf(mp3, "audio"))["sample_rate"]), 44100);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].find("episode.wav: RMS "), 0u) << log[0];
    EXPECT_EQ(log.back().rfind("ACX check: ", 0), 0u) << log.back();
    EXPECT_FALSE(workFolderLeft());
}

namespace {

// A spoken take with its own quiet lead-in and tail (seconds) over room
// noise (low unless asked), through the ACX package with the ACX clean-up
// (trimming on, 1 s room tone kept, the noise gate as asked), and, when
// asked, a music intro and outro. Returns the log.
std::vector<std::string> acxPackage(const testsupport::TempDir& dir, double lead, double tail, bool music,
                                    double noise = 0.0005, bool gate = false) {
    runTool({"espeak-ng", "-s", "150", "-w", (dir / "speech.wav").string(),
             "Chapter one. The boat was finished in the spring, and we took it down to the river."});
    runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", (dir / "speech.wav").string(),
             "-f", "lavfi", "-i", fmt::format("anoisesrc=color=pink:amplitude={}:sample_rate=48000",
                                              core::formatShortest(noise)),
             "-filter_complex",
             fmt::format("[0:a]aresample=48000,adelay={}:all=1,apad=pad_dur={}[s];"
                         "[s][1:a]amix=inputs=2:duration=first:normalize=0,aformat=channel_layouts=stereo",
                         core::formatShortest(lead * 1000), core::formatShortest(tail)),
             "-ar", "48000", "-c:a", "pcm_s24le", (dir / "take.wav").string()});
    // Louder noise leaves no quiet room tone to measure.
    if (noise <= 0.0005) {
        EXPECT_NEAR(roomToneOf(dir / "take.wav", dir.path()).head, lead, 0.15);
    }

    episode::MultiFormatExportRequest q(dir / "take.wav", dir / "out", "ep", {}, true, false, false, false,
                                        audio::LoudnessTarget::audibleACX());
    q.cleanup = audio::CleanupOptions(true, audio::HumMode::autoDetect, gate, true, true, 0);
    q.cleanup.roomToneSeconds = 1.0;
    if (music) {
        testsupport::makeAudio(dir / "intro.wav", "sine=frequency=440:sample_rate=48000:duration=3", {"-ac", "2"});
        testsupport::makeAudio(dir / "outro.wav", "sine=frequency=660:sample_rate=48000:duration=3", {"-ac", "2"});
        q.introURL = dir / "intro.wav";
        q.outroURL = dir / "outro.wav";
    }
    std::vector<std::string> log;
    AudioVideoPipeline().processMultiFormat(q, {}, [&](const std::string& l) { log.push_back(l); });
    return log;
}

} // namespace

class ACXRoomTone : public testing::TestWithParam<std::pair<double, double>> {};

TEST_P(ACXRoomTone, MasterHeadAndTailAreInsideTheLimits) {
    const auto [lead, tail] = GetParam();
    testsupport::TempDir dir;
    const auto log = acxPackage(dir, lead, tail, false);
    const Ends master = roomToneOf(dir / "out" / "ep_Master_ACX.wav", dir.path());
    EXPECT_GE(master.head, 0.6);
    EXPECT_LE(master.head, 0.9);
    EXPECT_GE(master.tail, 1.5);
    EXPECT_LE(master.tail, 4.5);
    const std::string report = core::readFile(dir / "out" / "ep_ACX_Check.txt");
    EXPECT_NE(report.find("\nOverall: PASSES the ACX audio requirements.\n"), std::string::npos) << report;
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "ACX check: passes");
}

// Shorter than ACX asks at both ends; longer than it allows at both ends.
INSTANTIATE_TEST_SUITE_P(LeadInAndTail, ACXRoomTone,
                         testing::Values(std::make_pair(0.3, 0.4), std::make_pair(2.0, 3.0)));

TEST(ACXRoomToneWithMusic, ReportFailsTheRoomToneAtBothEnds) {
    testsupport::TempDir dir;
    const auto log = acxPackage(dir, 0.3, 0.4, true);
    const std::string report = core::readFile(dir / "out" / "ep_ACX_Check.txt");
    // The master starts and ends with music: no room tone at either end,
    // while the speech alone passes.
    const Ends ends = roomToneOf(dir / "out" / "ep_Master_ACX.wav", dir.path());
    EXPECT_LT(ends.head, 0.5);
    EXPECT_LT(ends.tail, 1.0);
    EXPECT_NE(report.find("PASS  Noise floor"), std::string::npos) << report;
    EXPECT_NE(report.find(fmt::format("FAIL  Room tone head {:6.2f} s    (needs 0.5 to 1 s)\n", ends.head)),
              std::string::npos)
        << report;
    EXPECT_NE(report.find(fmt::format("FAIL  Room tone tail {:6.2f} s    (needs 1 to 5 s)\n", ends.tail)),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find("PASSES"), std::string::npos) << report;
    EXPECT_NE(report.find("\nOverall: Does NOT pass yet. See the FAIL lines above.\n"), std::string::npos) << report;
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "ACX check: does not pass yet, see ep_ACX_Check.txt");
}

// A take over loud room noise keeps a floor above ACX's limit also through
// the noise gate: the report's tip suggests the gate only when it was off.
class ACXNoisyFloor : public testing::TestWithParam<std::pair<bool, std::string>> {};

TEST_P(ACXNoisyFloor, TipSaysWhatElseHelps) {
    const auto& [gate, tip] = GetParam();
    testsupport::TempDir dir;
    acxPackage(dir, 0.75, 2.0, false, 0.02, gate);
    const std::string report = core::readFile(dir / "out" / "ep_ACX_Check.txt");
    EXPECT_NE(report.find("FAIL  Noise floor"), std::string::npos) << report;
    ASSERT_GT(report.size(), tip.size());
    EXPECT_EQ(report.substr(report.size() - tip.size() - 1), "\n" + tip) << report;
}

INSTANTIATE_TEST_SUITE_P(
    Gate, ACXNoisyFloor,
    testing::Values(std::make_pair(false, std::string("Tip: turn on the noise gate, or record with less background "
                                                      "noise.")),
                    std::make_pair(true, std::string("Tip: the noise gate is on; record in a quieter room, or run a "
                                                     "noise-reduction pass before importing."))),
    [](const auto& info) { return std::string(info.param.first ? "GateOn" : "GateOff"); });

TEST_F(PipelineEndToEnd, M4AWhenNoFFmpegIsFound) {
    const fs::path out = *dir_ / "m4a";
    AudioVideoPipeline::Engines engines;
    engines.ffmpeg = episode::FFmpegRunner(std::vector<fs::path>{});
    const AudioVideoPipeline pipeline(engines);
    EXPECT_FALSE(pipeline.producesMP3());
    auto q = request(out, false);
    q.generateMaster = false;
    std::vector<std::string> log;
    const auto files = pipeline.processMultiFormat(q, {}, [&](const std::string& l) { log.push_back(l); });
    EXPECT_EQ(names(files), (std::vector<std::string>{"ep_RSS.m4a"}));
    const auto info = mediaprobe::probe(out / "ep_RSS.m4a");
    EXPECT_EQ((*mediaprobe::streamOf(info, "audio"))["codec_name"], "aac");
    EXPECT_EQ(log.back(), "RSS master written as AAC (.m4a). Install FFmpeg (apt install ffmpeg) to get MP3 instead.");
    EXPECT_FALSE(workFolderLeft());
}

TEST_F(PipelineEndToEnd, FailingVariantWritesNothing) {
    const fs::path out = *dir_ / "failing";
    auto q = request(out, true);
    q.sourceURL = *dir_ / "no-such-episode.wav";
    EXPECT_THROW(AudioVideoPipeline().processMultiFormat(q, {}, {}), core::Error);
    EXPECT_TRUE(fs::is_empty(out));
    EXPECT_FALSE(workFolderLeft());
}
