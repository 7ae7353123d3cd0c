// Sprite sequences, sheet names and sheet sets of the texture preset, and
// the byte-for-byte equality of four-worker and one-worker runs.

#include <array>
#include <cstdint>
#include <set>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ZentrixFixtures.h"
#include "image/picture/CoreImagePipeline.h"
#include "support/BrokenFiles.h"
#include "support/TestSupport.h"

namespace {

using namespace zentrixtest;
using batch::ProcessingStatus;
using image::DataFormat;
using presets::OperationalMode;
using presets::ZentrixPreset;

ZentrixPreset sprites(DataFormat format = DataFormat::jsonHash) {
    ZentrixPreset p;
    p.operationalMode = OperationalMode::spriteSheetAtlas;
    p.spriteFormat = format;
    return p;
}

std::vector<std::string> namesOf(const std::vector<fs::path>& files) {
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(f.filename().string());
    return names;
}

// ---- Sequences ----

TEST(ZentrixFrameSequence, NumberedFramesOfOneExtensionInNumericOrder) {
    testsupport::TempDir dir;
    for (int i = 12; i >= 1; --i) writeFrame(dir / fmt::format("walk_{:02}.png", i), 8, 8, 10);
    writeFrame(dir / "walk_1.jpg.png.txt", 8, 8, 10); // another extension entirely
    core::writeFileAtomically(dir / "walk_1.jpg", "jpeg stand-in");
    core::writeFileAtomically(dir / ".walk_13.png", "hidden");
    const auto all = ZentrixPreset().supportedExtensions();

    const auto seq = ZentrixPreset::frameSequence(dir / "walk_05.png", all);
    EXPECT_EQ(seq.name, "walk");
    ASSERT_EQ(seq.frames.size(), 12u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(seq.frames[i].filename(), fmt::format("walk_{:02}.png", i + 1));

    const auto jpeg = ZentrixPreset::frameSequence(dir / "walk_1.jpg", all);
    EXPECT_EQ(jpeg, (ZentrixPreset::FrameSequence{"walk", {dir / "walk_1.jpg"}}));
    // An extension the preset does not take finds no frames but itself.
    EXPECT_EQ(ZentrixPreset::frameSequence(dir / "walk_03.png", {"jpg"}).frames,
              std::vector<fs::path>{dir / "walk_03.png"});
}

struct SequenceCase {
    std::vector<std::string> files;
    std::string asked;
    std::string name;
    std::vector<std::string> frames;
};

class ZentrixSequences : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(ZentrixSequences, NameAndOrder) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    for (const auto& f : c.files) core::writeFileAtomically(dir / f, "x");
    const auto seq = ZentrixPreset::frameSequence(dir / c.asked, ZentrixPreset().supportedExtensions());
    EXPECT_EQ(seq.name, c.name);
    EXPECT_EQ(namesOf(seq.frames), c.frames);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZentrixSequences,
    ::testing::Values(
        SequenceCase{{"run_2.png", "run_10.png", "run_1.png"}, "run_10.png", "run", {"run_1.png", "run_2.png", "run_10.png"}},
        // Equal numbers keep the name order on every file system.
        SequenceCase{{"walk_2.png", "walk_1.png", "walk_01.png"}, "walk_1.png", "walk", {"walk_01.png", "walk_1.png", "walk_2.png"}},
        SequenceCase{{"hero.png"}, "hero.png", "hero", {"hero.png"}},
        SequenceCase{{"_01.png", "_02.png"}, "_01.png", "Sprite", {"_01.png", "_02.png"}},
        SequenceCase{{"Fx -. 3.PNG", "Fx -. 1.png"}, "Fx -. 3.PNG", "Fx", {"Fx -. 1.png", "Fx -. 3.PNG"}},
        // Prefixes compare with case; a run too long for an integer does not split.
        SequenceCase{{"Run1.png", "run2.png"}, "Run1.png", "Run", {"Run1.png"}},
        SequenceCase{{"big_99999999999999999999.png", "big_1.png"}, "big_99999999999999999999.png",
                     "big_99999999999999999999", {"big_99999999999999999999.png"}},
        // A non-ASCII number character belongs to the run, which then doesn't read.
        SequenceCase{{"cap_1\u00B2.png", "cap_2.png"}, "cap_1\u00B2.png", "cap_1\u00B2", {"cap_1\u00B2.png"}}));

struct NamesCase {
    std::string suffix;
    std::size_t pages;
    DataFormat format;
    std::vector<std::string> images, data;
};

class ZentrixSpriteNames : public ::testing::TestWithParam<NamesCase> {};

TEST_P(ZentrixSpriteNames, ImagesAndData) {
    const auto& c = GetParam();
    EXPECT_EQ(ZentrixPreset::spriteFileNames("Run", c.suffix, c.pages, c.format),
              (ZentrixPreset::SpriteFileNames{c.images, c.data}));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ZentrixSpriteNames,
    ::testing::Values(
        NamesCase{"", 1, DataFormat::jsonHash, {"Run_Atlas.png"}, {"Run_Atlas.json"}},
        NamesCase{"@1x", 1, DataFormat::jsonHash, {"Run_Atlas@1x.png"}, {"Run_Atlas@1x.json"}},
        NamesCase{"", 2, DataFormat::jsonArray, {"Run_Atlas-0.png", "Run_Atlas-1.png"}, {"Run_Atlas-0.json", "Run_Atlas-1.json"}},
        NamesCase{"", 1, DataFormat::cocos, {"Run_Atlas.png"}, {"Run_Atlas.plist"}},
        NamesCase{"@1x", 2, DataFormat::unity, {"Run_Atlas-0@1x.png", "Run_Atlas-1@1x.png"},
                  {"Run_Atlas-0@1x.png.meta", "Run_Atlas-1@1x.png.meta"}},
        NamesCase{"", 3, DataFormat::godot, {"Run_Atlas-0.png", "Run_Atlas-1.png", "Run_Atlas-2.png"}, {"Run_Atlas.tres"}}));

TEST(ZentrixGroupLeader, FirstAcceptedFileTheJobHolds) {
    const std::set<std::string> ext{"png"};
    const std::vector<fs::path> group{"/m/Rock_AO.psd", "/m/Rock_Roughness.png", "/m/Rock_Metallic.png"};
    EXPECT_EQ(ZentrixPreset::groupLeader(group, ext, {}), fs::path("/m/Rock_AO.psd"));
    EXPECT_EQ(ZentrixPreset::groupLeader(group, ext, {"/m/Rock_Metallic.png", "/m/./Rock_Roughness.png"}),
              fs::path("/m/Rock_Roughness.png"));
    EXPECT_EQ(ZentrixPreset::groupLeader(group, ext, {"/m/Rock_AO.psd", "/m/Rock_Metallic.png"}),
              fs::path("/m/Rock_Metallic.png"));
    EXPECT_EQ(ZentrixPreset::groupLeader(group, ext, {"/elsewhere/a.png"}), fs::path("/m/Rock_AO.psd"));
    EXPECT_EQ(ZentrixPreset::groupLeader({}, ext, {}), std::nullopt);
}

TEST(ZentrixSheetLog, LineForm) {
    image::SpriteSheetCompiler::Atlas atlas;
    atlas.pages.resize(2);
    atlas.pages[0].sheetWidth = 1024;
    atlas.pages[0].sheetHeight = 1024;
    atlas.pages[0].frames.resize(20);
    atlas.pages[0].duplicateCount = 2;
    atlas.pages[1].sheetWidth = 1024;
    atlas.pages[1].sheetHeight = 512;
    atlas.pages[1].frames.resize(4);
    atlas.pages[1].duplicateCount = 1;
    EXPECT_EQ(ZentrixPreset::sheetLogLine("Run", atlas),
              "Run: 24 frames on 1024x1024 + 1024x512 (2 sheets), 3 duplicate frames reused");
    atlas.pages[1].frames[0].rotated = true;
    atlas.pages[0].frames[3].rotated = true;
    atlas.pages.pop_back();
    atlas.pages[0].duplicateCount = 0;
    EXPECT_EQ(ZentrixPreset::sheetLogLine("Run", atlas), "Run: 20 frames on 1024x1024, 1 rotated");
}

TEST(ZentrixSheetOptions, LimitAndRotation) {
    ZentrixPreset p = sprites();
    EXPECT_EQ(p.spriteSheetLimit(), 8192);
    p.maxTextureSize = 2048;
    EXPECT_EQ(p.spriteSheetLimit(), 2048);
    p.maxTextureSize = 1;
    EXPECT_EQ(p.spriteSheetLimit(), 1);
    p.spriteRotate = true;
    for (const auto format : image::allDataFormats()) {
        p.spriteFormat = format;
        EXPECT_EQ(p.spriteRotationAllowed(), format != DataFormat::godot && format != DataFormat::unity)
            << image::rawValue(format);
    }
    p.spriteRotate = false;
    p.spriteFormat = DataFormat::jsonHash;
    EXPECT_FALSE(p.spriteRotationAllowed());
}

// ---- Sheet sets through the queue ----

TEST(ZentrixSprites, WalkSequenceOnItsFirstFrameAndTheJpegApart) {
    testsupport::TempDir dir;
    std::vector<fs::path> files;
    for (int i = 1; i <= 12; ++i) {
        files.push_back(dir / fmt::format("walk_{:02}.png", i));
        writeFrame(files.back(), 16, 16, static_cast<std::uint8_t>(i * 20));
    }
    cv::Mat jpeg(16, 16, CV_8UC4, cv::Scalar(90, 90, 90, 255));
    image::CoreImagePipeline::shared().write(image::Image{jpeg, {}}, dir / "walk_1.jpg", 0.9);
    files.push_back(dir / "walk_1.jpg");
    const JobRun run = runJob(sprites(), files, dir / "out");

    // The JPEG is a sheet of its own under the same name: the first of the
    // two to claim it writes both files, the other fails. Sheets are named
    // after their sequence, so no naming pattern is advised.
    const bool pngsWon = run.status.at("walk_01.png") == ProcessingStatus::completed;
    const std::string winner = pngsWon ? "walk_01.png" : "walk_1.jpg";
    const std::string loser = pngsWon ? "walk_1.jpg" : "walk_01.png";
    const std::string clash = "walk_Atlas.png was already written by " + winner + " in this batch";
    EXPECT_EQ(run.outputNames(winner), (std::vector<std::string>{"walk_Atlas.png", "walk_Atlas.json"}));
    EXPECT_EQ(run.status.at(loser), ProcessingStatus::failed);
    EXPECT_EQ(run.message.at(loser), clash);
    // The other PNG frames are part of a sheet only when it was written.
    for (int i = 2; i <= 12; ++i) {
        const std::string name = fmt::format("walk_{:02}.png", i);
        EXPECT_EQ(run.status.at(name), pngsWon ? ProcessingStatus::skipped : ProcessingStatus::failed);
        EXPECT_EQ(run.message.at(name), pngsWon ? fmt::format("walk_{:02} is part of the walk sprite sheet", i) : clash);
    }
    EXPECT_EQ(run.report.skippedCount, pngsWon ? 11 : 0);
    const auto json = nlohmann::json::parse(core::readFile(dir / "out" / "walk_Atlas.json"));
    EXPECT_EQ(json["frames"].size(), pngsWon ? 12u : 1u);
    EXPECT_EQ(run.countLogsStartingWith("walk: 12 frames on "), pngsWon ? 1 : 0);
    EXPECT_EQ(run.countLogsStartingWith("walk: 1 frames on "), pngsWon ? 0 : 1);
    EXPECT_FALSE(pixelsOf(dir / "out" / "walk_Atlas.png").empty());
}

// A frame that can't be read is left off the sheet, and its own item fails,
// whether it leads the sequence or not.
class ZentrixUnreadableFrame : public ::testing::TestWithParam<int> {};

TEST_P(ZentrixUnreadableFrame, FailsItsItemAndTheSheetIsMadeWithoutIt) {
    const int broken = GetParam();
    testsupport::TempDir dir;
    writeFrame(dir / "hero.png", 20, 30, 100);
    std::vector<fs::path> files{dir / "hero.png"};
    for (int i = 1; i <= 3; ++i) {
        files.push_back(dir / fmt::format("bat_{}.png", i));
        if (i == broken)
            core::writeFileAtomically(files.back(), "broken");
        else
            writeFrame(files.back(), 12, 12, static_cast<std::uint8_t>(40 + 10 * i));
    }
    const JobRun run = runJob(sprites(), files, dir / "out");
    EXPECT_EQ(run.outputNames("hero.png"), (std::vector<std::string>{"hero_Atlas.png", "hero_Atlas.json"}));
    // The sheet is reported by the first frame on it.
    const int owner = broken == 1 ? 2 : 1;
    EXPECT_EQ(run.outputNames(fmt::format("bat_{}.png", owner)),
              (std::vector<std::string>{"bat_Atlas.png", "bat_Atlas.json"}));
    const auto hero = nlohmann::json::parse(core::readFile(dir / "out" / "hero_Atlas.json"));
    EXPECT_TRUE(hero["frames"].contains("hero.png"));

    const std::string brokenName = fmt::format("bat_{}.png", broken);
    EXPECT_TRUE(run.logged("bat: could not read the frame " + brokenName + ", left it out"));
    EXPECT_EQ(run.countLogsStartingWith("bat: 2 frames on "), 1);
    EXPECT_EQ(run.status.at(brokenName), ProcessingStatus::failed);
    EXPECT_EQ(run.message.at(brokenName), "Could not read the frame " + brokenName + "; the sheet was made without it");
    EXPECT_EQ(run.report.failureCount, 1);
    for (int i = 1; i <= 3; ++i) {
        if (i == broken) continue;
        EXPECT_EQ(run.status.at(fmt::format("bat_{}.png", i)),
                  i == owner ? ProcessingStatus::completed : ProcessingStatus::skipped)
            << i;
    }
    const auto bat = nlohmann::json::parse(core::readFile(dir / "out" / "bat_Atlas.json"));
    EXPECT_EQ(bat["frames"].size(), 2u);
    EXPECT_FALSE(bat["frames"].contains(brokenName));
    EXPECT_FALSE(pixelsOf(dir / "out" / "bat_Atlas.png").empty());
}

INSTANTIATE_TEST_SUITE_P(Frames, ZentrixUnreadableFrame, ::testing::Values(1, 2),
                         [](const auto& info) { return info.param == 1 ? "first" : "later"; });

// The opaque colours of a picture, decoded as stored.
std::set<std::array<std::uint8_t, 4>> opaqueColours(const fs::path& file) {
    std::set<std::array<std::uint8_t, 4>> colours;
    const cv::Mat pixels = pixelsOf(file);
    for (int y = 0; y < pixels.rows; ++y)
        for (int x = 0; x < pixels.cols; ++x) {
            const auto px = pixels.at<cv::Vec4b>(y, x);
            if (px[3] == 255) colours.insert({px[0], px[1], px[2], px[3]});
        }
    return colours;
}

struct DamagedCase {
    DataFormat format;
    int cut;      // the frame cut short, 1 to 4
    bool pages;   // a sheet limit that puts every frame on a page of its own
};

void PrintTo(const DamagedCase& c, std::ostream* os) {
    *os << image::rawValue(c.format) << ", frame " << c.cut << " cut" << (c.pages ? ", pages" : "");
}

class ZentrixDamagedFrame : public ::testing::TestWithParam<DamagedCase> {};

// A frame cut short is left off the sheet in every data format, on one
// page or several: the sheet of the other frames is written, the first
// frame on it reports it, and only the damaged frame's item fails.
TEST_P(ZentrixDamagedFrame, SheetOfTheOtherFramesInEveryFormat) {
    const auto [format, cut, pages] = GetParam();
    testsupport::TempDir dir;
    std::vector<fs::path> files;
    std::set<std::array<std::uint8_t, 4>> drawn;
    std::vector<std::string> whole;
    for (int i = 1; i <= 4; ++i) {
        files.push_back(dir / fmt::format("boom{}.png", i));
        writeFrame(files.back(), 20, 20, static_cast<std::uint8_t>(50 * i));
        if (i != cut) {
            const auto colours = opaqueColours(files.back());
            drawn.insert(colours.begin(), colours.end());
            whole.push_back(fmt::format("boom{}", i));
        }
    }
    testsupport::cutFile(files[static_cast<std::size_t>(cut - 1)], 0.5);
    ZentrixPreset preset = sprites(format);
    if (pages) preset.maxTextureSize = 32; // an 18-pixel frame with its padding leaves no room for another
    const JobRun run = runJob(preset, files, dir / "out");

    // Pages in order, each image followed by its data file; Godot's one
    // resource after all of them.
    const auto names = ZentrixPreset::spriteFileNames("boom", "", pages ? 3 : 1, format);
    std::vector<std::string> expected;
    for (std::size_t j = 0; j < names.images.size(); ++j) {
        expected.push_back(names.images[j]);
        if (format != DataFormat::godot) expected.push_back(names.data[j]);
    }
    if (format == DataFormat::godot) expected.push_back(names.data[0]);
    const std::string owner = whole.front() + ".png";
    EXPECT_EQ(run.status.at(owner), ProcessingStatus::completed);
    EXPECT_EQ(run.outputNames(owner), expected);
    for (const auto& frame : whole) {
        if (frame + ".png" == owner) continue;
        EXPECT_EQ(run.status.at(frame + ".png"), ProcessingStatus::skipped) << frame;
        EXPECT_EQ(run.message.at(frame + ".png"), frame + " is part of the boom sprite sheet");
    }
    const std::string cutName = fmt::format("boom{}.png", cut);
    EXPECT_EQ(run.status.at(cutName), ProcessingStatus::failed);
    const std::string& failure = run.message.at(cutName);
    EXPECT_TRUE(failure.starts_with(cutName + " is damaged: ")) << failure;
    EXPECT_TRUE(failure.ends_with("; the sheet was made without it")) << failure;
    EXPECT_EQ(run.report.successCount, 1);
    EXPECT_EQ(run.report.failureCount, 1);
    EXPECT_EQ(run.report.skippedCount, 2);
    EXPECT_EQ(run.report.outputFiles, expected);

    // The data lists the three frames, and the sheets hold their pixels.
    std::string data;
    for (const auto& name : names.data) data += core::readFile(dir / "out" / name);
    EXPECT_EQ(data.find(fmt::format("boom{}", cut)), std::string::npos);
    if (format == DataFormat::godot) {
        std::size_t entries = 0;
        for (auto at = data.find("[sub_resource"); at != std::string::npos; at = data.find("[sub_resource", at + 1))
            ++entries;
        EXPECT_EQ(entries, 3u);
    } else {
        for (const auto& frame : whole) EXPECT_NE(data.find(frame), std::string::npos) << frame;
    }
    std::set<std::array<std::uint8_t, 4>> onSheets;
    for (const auto& name : names.images) {
        const auto colours = opaqueColours(dir / "out" / name);
        onSheets.insert(colours.begin(), colours.end());
    }
    EXPECT_EQ(onSheets, drawn);
}

std::vector<DamagedCase> damagedCases() {
    std::vector<DamagedCase> cases;
    for (const auto format : image::allDataFormats()) {
        cases.push_back({format, 4, false});
        cases.push_back({format, 1, false});
        cases.push_back({format, 1, true});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Formats, ZentrixDamagedFrame, ::testing::ValuesIn(damagedCases()),
                         [](const auto& info) {
                             std::string name(image::rawValue(info.param.format));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return fmt::format("{}_cut{}{}", name, info.param.cut, info.param.pages ? "_pages" : "");
                         });

// Three folders with a sequence "run" each, all frames queued: one sheet is
// written and its other frames are part of it; every frame of the two
// sheets that clash with it fails with the clash, naming the item by its
// folder.
TEST(ZentrixSprites, FramesOfASheetNotWrittenFailWithIt) {
    testsupport::TempDir dir;
    std::vector<fs::path> files;
    for (int folder = 1; folder <= 3; ++folder)
        for (int i = 1; i <= 3; ++i) {
            files.push_back(dir / fmt::format("f{}", folder) / fmt::format("run{}.png", i));
            fs::create_directories(files.back().parent_path());
            writeFrame(files.back(), 16, 16, static_cast<std::uint8_t>(60 * folder + 10 * i));
        }
    const JobRun run = runJob(sprites(), files, dir / "out");
    EXPECT_EQ(run.report.successCount, 1);
    EXPECT_EQ(run.report.skippedCount, 2);
    EXPECT_EQ(run.report.failureCount, 6);
    std::string winner;
    for (const auto& [name, status] : run.status)
        if (status == ProcessingStatus::completed) winner = name;
    ASSERT_TRUE(winner.ends_with("/run1.png")) << winner;
    const std::string folder = winner.substr(0, 2);
    const std::string clash = "run_Atlas.png was already written by " + winner + " in this batch";
    for (const auto& [name, status] : run.status) {
        if (name == winner) continue;
        if (name.starts_with(folder)) {
            EXPECT_EQ(status, ProcessingStatus::skipped) << name;
        } else {
            EXPECT_EQ(status, ProcessingStatus::failed) << name;
            EXPECT_EQ(run.message.at(name), clash) << name;
        }
    }
    std::set<std::array<std::uint8_t, 4>> drawn;
    for (int i = 1; i <= 3; ++i) {
        const auto colours = opaqueColours(dir / folder / fmt::format("run{}.png", i));
        drawn.insert(colours.begin(), colours.end());
    }
    EXPECT_EQ(opaqueColours(dir / "out" / "run_Atlas.png"), drawn);
}

TEST(ZentrixSprites, GodotPagesThenOneResource) {
    testsupport::TempDir dir;
    std::vector<fs::path> files;
    for (int i = 1; i <= 3; ++i) {
        files.push_back(dir / fmt::format("Run_{}.png", i));
        writeFrame(files.back(), 56, 56, static_cast<std::uint8_t>(i * 60), 0);
    }
    ZentrixPreset preset = sprites(DataFormat::godot);
    preset.maxTextureSize = 64;
    const JobRun run = runJob(preset, files, dir / "out");
    EXPECT_EQ(run.outputNames("Run_1.png"),
              (std::vector<std::string>{"Run_Atlas-0.png", "Run_Atlas-1.png", "Run_Atlas-2.png", "Run_Atlas.tres"}));
    const std::string tres = core::readFile(dir / "out" / "Run_Atlas.tres");
    for (int i = 0; i < 3; ++i) EXPECT_NE(tres.find(fmt::format("Run_Atlas-{}.png", i)), std::string::npos);
    EXPECT_TRUE(run.logged("Run: 3 frames on 64x64 + 64x64 + 64x64 (3 sheets)"));
}

struct LimitCase {
    std::int64_t maxTextureSize;
    std::vector<std::string> names;
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << "limit " << c.maxTextureSize; }

class ZentrixSheetLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ZentrixSheetLimit, ExtraPagesBeyondTheLimit) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    std::vector<fs::path> files{dir / "Big_1.png", dir / "Big_2.png"};
    writeFrame(files[0], 1100, 1100, 30, 0);
    writeFrame(files[1], 1100, 1100, 200, 0);
    ZentrixPreset preset = sprites(DataFormat::jsonArray);
    preset.maxTextureSize = c.maxTextureSize;
    const JobRun run = runJob(preset, files, dir / "out");
    EXPECT_EQ(run.outputNames("Big_1.png"), c.names);
    for (const auto& name : c.names)
        if (name.ends_with(".png")) {
            const auto size = sizeOf(dir / "out" / name);
            EXPECT_LE(std::max(size.width, size.height), c.maxTextureSize > 0 ? c.maxTextureSize : 8192);
            EXPECT_GT(size.width, 0);
        }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ZentrixSheetLimit,
    ::testing::Values(LimitCase{2048, {"Big_Atlas-0.png", "Big_Atlas-0.json", "Big_Atlas-1.png", "Big_Atlas-1.json"}},
                      LimitCase{0, {"Big_Atlas.png", "Big_Atlas.json"}}));

class ZentrixRotation : public ::testing::TestWithParam<DataFormat> {};

// Tall and wide strips invite rotation; only the JSON and plist formats
// may store frames turned.
TEST_P(ZentrixRotation, OnlyFormatsThatDescribeIt) {
    testsupport::TempDir dir;
    std::vector<fs::path> files;
    for (int i = 1; i <= 6; ++i) {
        files.push_back(dir / fmt::format("Strip_{}.png", i));
        if (i % 2) writeFrame(files.back(), 8, 60, static_cast<std::uint8_t>(i * 30), 0);
        else writeFrame(files.back(), 60, 8, static_cast<std::uint8_t>(i * 30), 0);
    }
    ZentrixPreset preset = sprites(GetParam());
    preset.spriteRotate = true;
    const JobRun run = runJob(preset, files, dir / "out");
    ASSERT_EQ(run.countLogsStartingWith("Strip: 6 frames on "), 1);
    const bool rotatedAny = std::any_of(run.logs.begin(), run.logs.end(),
                                        [](const std::string& l) { return l.ends_with(" rotated"); });
    EXPECT_EQ(rotatedAny, image::supportsRotation(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Formats, ZentrixRotation,
                         ::testing::Values(DataFormat::godot, DataFormat::unity, DataFormat::jsonHash),
                         [](const auto& info) { return std::string(image::rawValue(info.param)); });

TEST(ZentrixSprites, HalfScaleSetFollowsAndIsNotLogged) {
    testsupport::TempDir dir;
    std::vector<fs::path> files;
    for (int i = 1; i <= 4; ++i) {
        files.push_back(dir / fmt::format("Run_{:02}.png", i));
        writeFrame(files.back(), 40, 40, i == 4 ? 30 : static_cast<std::uint8_t>(i * 30), 0);
    }
    ZentrixPreset preset = sprites();
    preset.spriteHalfScale = true;
    const JobRun run = runJob(preset, files, dir / "out");
    EXPECT_EQ(run.outputNames("Run_01.png"), (std::vector<std::string>{"Run_Atlas.png", "Run_Atlas.json",
                                                                        "Run_Atlas@1x.png", "Run_Atlas@1x.json"}));
    EXPECT_EQ(run.countLogsStartingWith("Run: "), 1);
    EXPECT_TRUE(run.logged("Run: 4 frames on 128x128, 1 duplicate frames reused"));
    const auto half = nlohmann::json::parse(core::readFile(dir / "out" / "Run_Atlas@1x.json"));
    EXPECT_EQ(half["frames"]["Run_02.png"]["sourceSize"]["w"], 20);
    EXPECT_EQ(half["meta"]["image"], "Run_Atlas@1x.png");
}

// ---- Four workers and one ----

TEST(ZentrixDeterminism, FourWorkersWriteWhatOneWrites) {
    testsupport::TempDir dir;
    std::vector<fs::path> maps, frames, textures;
    for (const std::string material : {"Rock", "Moss", "Bark"}) {
        writeRamp(dir / (material + "_AO.png"), 96, 48, 2);
        writeGray(dir / (material + "_Roughness.png"), 96, 48, static_cast<std::uint8_t>(material[0]));
        writeRamp(dir / (material + "_Height.png"), 96, 48, 3);
        for (const std::string channel : {"_AO.png", "_Roughness.png", "_Height.png"}) maps.push_back(dir / (material + channel));
    }
    for (const std::string seq : {"walk", "jump"})
        for (int i = 1; i <= 6; ++i) {
            frames.push_back(dir / fmt::format("{}_{}.png", seq, i));
            writeFrame(frames.back(), 20 + i * 3, 30, static_cast<std::uint8_t>(i * 40 + static_cast<int>(seq.size())));
        }
    for (int i = 0; i < 4; ++i) {
        textures.push_back(dir / fmt::format("Tex{}.png", i));
        writeRamp(textures.back(), 70 + i * 10, 50, 3);
    }

    ZentrixPreset pack;
    pack.generateMipmaps = true;
    pack.generateMissingNormal = true;
    ZentrixPreset sheet = sprites(DataFormat::godot);
    sheet.spriteHalfScale = true;
    ZentrixPreset pot;
    pot.operationalMode = OperationalMode::powerOfTwoEnforce;
    pot.generateMipmaps = true;

    for (const auto& [preset, inputs] : std::vector<std::pair<ZentrixPreset, std::vector<fs::path>>>{
             {pack, maps}, {sheet, frames}, {pot, textures}}) {
        const std::string mode(presets::rawValue(preset.operationalMode));
        const fs::path four = dir / fmt::format("four-{}", inputs.size());
        const fs::path one = dir / fmt::format("one-{}", inputs.size());
        const JobRun a = runJob(preset, inputs, four, "{name}_{profile}_{pot}", 4);
        const JobRun b = runJob(preset, inputs, one, "{name}_{profile}_{pot}", 1);
        const auto left = folderContents(four);
        const auto right = folderContents(one);
        EXPECT_GT(left.size(), 3u) << mode;
        ASSERT_EQ(left.size(), right.size()) << mode;
        for (const auto& [name, bytes] : left) {
            ASSERT_TRUE(right.count(name)) << mode << " " << name;
            EXPECT_TRUE(bytes == right.at(name)) << mode << " " << name;
        }
        for (const auto& [name, outputs] : a.outputs) EXPECT_EQ(namesOf(outputs), namesOf(b.outputs.at(name))) << name;
    }
}

} // namespace
