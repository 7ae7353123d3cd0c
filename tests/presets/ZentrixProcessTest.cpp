// The texture preset's per-file modes, run through the real queue with four
// workers on maps generated in a temporary folder.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "ZentrixFixtures.h"
#include "batch/BatchSkip.h"
#include "presets/OutputPlanner.h"
#include "support/BrokenFiles.h"
#include "support/SmallDisk.h"
#include "support/TestSupport.h"

namespace {

using namespace zentrixtest;
using batch::ProcessingStatus;
using presets::OperationalMode;
using presets::ZentrixPreset;

ZentrixPreset packing() {
    ZentrixPreset p;
    p.operationalMode = OperationalMode::channelPackingORM;
    p.engineProfile = image::EngineProfile::unrealORM;
    return p;
}

class ZentrixPacking : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    fs::path out = dir / "out";
};

TEST_F(ZentrixPacking, MaterialPackedOnceOnItsPrimaryMap) {
    writeGray(dir / "Rock_AO.png", 100, 60, 200);
    writeGray(dir / "Rock_Roughness.png", 100, 60, 120);
    writeGray(dir / "Rock_Metallic.png", 100, 60, 30);
    const JobRun run = runJob(packing(), {dir / "Rock_AO.png", dir / "Rock_Roughness.png", dir / "Rock_Metallic.png"}, out);

    EXPECT_EQ(run.status.at("Rock_AO.png"), ProcessingStatus::completed);
    EXPECT_EQ(run.outputNames("Rock_AO.png"), std::vector<std::string>{"Rock_ORM_128x64.png"});
    EXPECT_EQ(run.status.at("Rock_Roughness.png"), ProcessingStatus::skipped);
    EXPECT_EQ(run.message.at("Rock_Roughness.png"), "Rock_Roughness is packed together with Rock_AO.png");
    EXPECT_EQ(run.message.at("Rock_Metallic.png"), "Rock_Metallic is packed together with Rock_AO.png");
    EXPECT_TRUE(run.logged("Packing Rock for Unreal Engine (ORM): Rock_AO.png, Rock_Roughness.png, Rock_Metallic.png"));
    EXPECT_EQ(folderContents(out).size(), 1u);

    const cv::Mat packed = pixelsOf(out / "Rock_ORM_128x64.png");
    ASSERT_EQ(packed.size(), cv::Size(128, 64));
    EXPECT_EQ(packed.at<cv::Vec4b>(10, 10), cv::Vec4b(200, 120, 30, 255));
}

TEST_F(ZentrixPacking, MissingMetallicLogsEngineDefaultsAndStillPacks) {
    writeGray(dir / "Rock_AO.png", 32, 32, 200);
    writeGray(dir / "Rock_Roughness.png", 32, 32, 120);
    writeGray(dir / "Rock_Height.png", 32, 32, 60); // Unreal keeps height in alpha
    const JobRun run = runJob(packing(), {dir / "Rock_AO.png", dir / "Rock_Roughness.png", dir / "Rock_Height.png"}, out);
    EXPECT_TRUE(run.logged("Rock: no Metallic map, using engine defaults"));
    EXPECT_EQ(run.outputNames("Rock_AO.png"), std::vector<std::string>{"Rock_ORM_32x32.png"});
}

TEST_F(ZentrixPacking, UnqueuedPsdMapLeavesTheWorkToTheFirstQueuedMap) {
    testsupport::runTool({"convert-im6.q16", "-size", "32x32", "xc:rgb(200,200,201)", "-depth", "8",
                           (dir / "Rock_AO.psd").string()});
    writeGray(dir / "Rock_Roughness.png", 32, 32, 120);
    writeGray(dir / "Rock_Metallic.png", 32, 32, 30);
    const JobRun run = runJob(packing(), {dir / "Rock_Roughness.png", dir / "Rock_Metallic.png"}, out);

    EXPECT_EQ(run.outputNames("Rock_Roughness.png"), std::vector<std::string>{"Rock_ORM_32x32.png"});
    EXPECT_EQ(run.message.at("Rock_Metallic.png"), "Rock_Metallic is packed together with Rock_Roughness.png");
    EXPECT_EQ(folderContents(out).size(), 1u);
    const cv::Mat packed = pixelsOf(out / "Rock_ORM_32x32.png");
    ASSERT_FALSE(packed.empty());
    EXPECT_EQ(packed.at<cv::Vec4b>(5, 5), cv::Vec4b(200, 120, 30, 255)); // the PSD's AO is packed too

    // A context made by hand has no job list: the material's first map leads.
    batch::ProcessingContext context;
    context.configuration.outputDirectory = out;
    context.configuration.namingPattern = "{name}_{profile}_{pot}";
    const batch::BatchItem item(core::Uuid::random(), dir / "Rock_Roughness.png");
    try {
        packing().process(item, context);
        ADD_FAILURE() << "not skipped";
    } catch (const batch::BatchSkip& skip) {
        EXPECT_EQ(skip.reason, "Rock_Roughness is packed together with Rock_AO.psd");
    }
}

// Photoshop documents as ImageMagick writes them: Grayscale at 8 and 16 bits
// (RLE and raw) packed as a material's AO, an RGB one scaled to a power of
// two; every pixel as in the picture they were made from.
struct PsdCase {
    const char* name;
    std::vector<std::string> options; // ImageMagick's, between source and document
    OperationalMode mode;
    bool grayPicture = true;
};

void PrintTo(const PsdCase& c, std::ostream* os) { *os << c.name; }

class ZentrixPhotoshop : public ::testing::TestWithParam<PsdCase> {};

TEST_P(ZentrixPhotoshop, ReadsTheMergedComposite) {
    testsupport::TempDir dir;
    const PsdCase& c = GetParam();
    const bool packed = c.mode == OperationalMode::channelPackingORM;
    const auto pattern = [gray = c.grayPicture](int x, int y) {
        const auto v = static_cast<std::uint8_t>((x * 7 + y * 3) % 256);
        return gray ? std::array<std::uint8_t, 4>{v, v, v, 255}
                    : std::array<std::uint8_t, 4>{v, static_cast<std::uint8_t>(255 - v),
                                                  static_cast<std::uint8_t>(x * 8), 255};
    };
    const auto source = dir / "source.png";
    writePng(source, 32, 32, pattern);
    const auto document = dir / "Rock_AO.psd";
    std::vector<std::string> argv{"convert", source.string()};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.push_back(document.string());
    testsupport::runTool(argv);

    ZentrixPreset preset = packing();
    preset.operationalMode = c.mode;
    const JobRun run = runJob(preset, {document}, dir / "out", "{name}_{profile}");
    ASSERT_EQ(run.status.at("Rock_AO.psd"), ProcessingStatus::completed) << (run.message.count("Rock_AO.psd") ? run.message.at("Rock_AO.psd") : "");
    const cv::Mat written = pixelsOf(dir / "out" / (packed ? "Rock_ORM.png" : "Rock_AO_POT.png"));
    ASSERT_EQ(written.size(), cv::Size(32, 32));
    int wrong = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const auto want = pattern(x, y);
            const auto got = written.at<cv::Vec4b>(y, x);
            // Packed: AO in red, no roughness (255) or metallic (0) map.
            const cv::Vec4b expected = packed ? cv::Vec4b(want[0], 255, 0, 255)
                                            : cv::Vec4b(want[0], want[1], want[2], want[3]);
            if (got != expected) ++wrong;
        }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, ZentrixPhotoshop,
    ::testing::Values(PsdCase{"Gray8", {"-colorspace", "Gray", "-depth", "8"}, OperationalMode::channelPackingORM},
                      PsdCase{"Gray16", {"-colorspace", "Gray", "-depth", "16"}, OperationalMode::channelPackingORM},
                      PsdCase{"Gray8Raw", {"-colorspace", "Gray", "-depth", "8", "-compress", "None"},
                              OperationalMode::channelPackingORM},
                      PsdCase{"GrayWithAlpha", {"-colorspace", "Gray", "-alpha", "set", "-depth", "8"},
                              OperationalMode::channelPackingORM},
                      // ImageMagick keeps a gray picture a Grayscale document even so.
                      PsdCase{"TrueColorOfGray", {"-type", "TrueColor"}, OperationalMode::powerOfTwoEnforce},
                      PsdCase{"RGB", {"-type", "TrueColor"}, OperationalMode::powerOfTwoEnforce, false},
                      PsdCase{"RGB16Raw", {"-type", "TrueColor", "-depth", "16", "-compress", "None"},
                              OperationalMode::powerOfTwoEnforce, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ZentrixPacking, NonMapIsSkipped) {
    writeGray(dir / "Pebble.png", 8, 8, 1);
    const JobRun run = runJob(packing(), {dir / "Pebble.png"}, out);
    EXPECT_EQ(run.message.at("Pebble.png"), "Pebble isn't an AO / Roughness / Smoothness / Metallic / Height map");
}

struct MipCase {
    int width, height;
    std::vector<std::string> names;
    std::vector<cv::Size> sizes;
};

void PrintTo(const MipCase& c, std::ostream* os) { *os << c.width << "x" << c.height; }

class ZentrixMipmaps : public ::testing::TestWithParam<MipCase> {};

TEST_P(ZentrixMipmaps, HalvedUntilTheLongerSideIsSixteen) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    writeGray(dir / "Rock_AO.png", c.width, c.height, 90);
    ZentrixPreset preset = packing();
    preset.generateMipmaps = true;
    const JobRun run = runJob(preset, {dir / "Rock_AO.png"}, dir / "out");
    EXPECT_EQ(run.outputNames("Rock_AO.png"), c.names);
    for (std::size_t i = 0; i < c.names.size(); ++i)
        EXPECT_EQ(pixelsOf(dir / "out" / c.names[i]).size(), c.sizes[i]) << c.names[i];
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ZentrixMipmaps,
    ::testing::Values(MipCase{64, 32,
                              {"Rock_ORM_64x32.png", "Rock_ORM_64x32_mip1_32.png", "Rock_ORM_64x32_mip2_16.png"},
                              {{64, 32}, {32, 16}, {16, 8}}},
                      MipCase{16, 16, {"Rock_ORM_16x16.png"}, {{16, 16}}}));

TEST_F(ZentrixPacking, MissingNormalMadeFromTheHeightMap) {
    writeGray(dir / "Rock_AO.png", 32, 32, 200);
    writeRamp(dir / "Rock_Height.png", 32, 32, 8);
    ZentrixPreset preset = packing();
    preset.generateMissingNormal = true;
    const JobRun run = runJob(preset, {dir / "Rock_AO.png", dir / "Rock_Height.png"}, out, "{name}");
    EXPECT_EQ(run.outputNames("Rock_AO.png"), (std::vector<std::string>{"Rock.png", "Rock_NormalGL.png"}));
    EXPECT_TRUE(run.logged("Rock: no normal map found, made Rock_NormalGL.png from the height map"));
    const cv::Mat normal = pixelsOf(out / "Rock_NormalGL.png");
    ASSERT_EQ(normal.size(), cv::Size(32, 32));
    EXPECT_LT(normal.at<cv::Vec4b>(16, 16)[0], 120); // slope to the right tilts the normal left

    // With a normal map beside the material nothing is made.
    writeGray(dir / "Rock_Normal.png", 32, 32, 128);
    const JobRun again = runJob(preset, {dir / "Rock_AO.png"}, dir / "out2", "{name}");
    EXPECT_EQ(again.outputNames("Rock_AO.png"), std::vector<std::string>{"Rock.png"});
}

// ---- Normal maps ----

struct NormalCase {
    std::string file;
    image::NormalConvention target;
    std::string pattern;
    std::string output; // empty: skipped
    std::string reason;
};

void PrintTo(const NormalCase& c, std::ostream* os) { *os << c.file << " " << c.pattern; }

class ZentrixNormalConvert : public ::testing::TestWithParam<NormalCase> {};

TEST_P(ZentrixNormalConvert, NamesAndSkips) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    writePng(dir / c.file, 48, 32, [](int x, int) {
        return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(x), 100, 255, 255};
    });
    ZentrixPreset preset;
    preset.operationalMode = OperationalMode::normalMapConvert;
    preset.normalTarget = c.target;
    const JobRun run = runJob(preset, {dir / c.file}, dir / "out", c.pattern);
    if (c.output.empty()) {
        EXPECT_EQ(run.status.at(c.file), ProcessingStatus::skipped);
        EXPECT_EQ(run.message.at(c.file), c.reason);
        EXPECT_TRUE(!fs::exists(dir / "out") || fs::is_empty(dir / "out"));
        return;
    }
    ASSERT_EQ(run.outputNames(c.file), std::vector<std::string>{c.output});
    const cv::Mat flipped = pixelsOf(dir / "out" / c.output);
    ASSERT_EQ(flipped.size(), cv::Size(48, 32));
    EXPECT_EQ(flipped.at<cv::Vec4b>(3, 7), cv::Vec4b(7, 155, 255, 255));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZentrixNormalConvert,
    ::testing::Values(
        NormalCase{"Brick_NormalDX.png", image::NormalConvention::openGL, "{name}_{profile}_{pot}", "Brick_NormalGL.png", ""},
        NormalCase{"Brick_NormalGL.png", image::NormalConvention::openGL, "{name}_{profile}_{pot}", "",
                   "Brick_NormalGL is already GL"},
        NormalCase{"Brick_Normal.png", image::NormalConvention::openGL, "{name}_{profile}_{pot}", "Brick_NormalGL.png", ""},
        NormalCase{"Brick_NormalDX.png", image::NormalConvention::openGL, "{name}-{pot}", "Brick_NormalGL-48x32.png", ""},
        NormalCase{"Brick_NormalDX.png", image::NormalConvention::openGL, "{profile}_{name}_{index}",
                   "GL_Brick_NormalGL_1.png", ""},
        NormalCase{"Brick_NormalGL.png", image::NormalConvention::directX, "{name}_{profile}_{pot}", "Brick_NormalDX.png", ""},
        NormalCase{"Brick.png", image::NormalConvention::openGL, "{name}", "",
                   "Brick isn't named like a normal map (_Normal, _NormalDX, _NormalGL, _Nrm)"}));

TEST(ZentrixNormalFromHeight, HeightMapBecomesItsNormalMap) {
    testsupport::TempDir dir;
    writeRamp(dir / "Wall_Height.png", 40, 20, 4);
    writeGray(dir / "Flat.png", 20, 20, 100);
    ZentrixPreset preset;
    preset.operationalMode = OperationalMode::normalFromHeight;
    preset.normalTarget = image::NormalConvention::directX;
    preset.maxTextureSize = 16;
    const JobRun run = runJob(preset, {dir / "Wall_Height.png", dir / "Flat.png"}, dir / "out", "{name}-{pot}");
    EXPECT_EQ(run.outputNames("Wall_Height.png"), std::vector<std::string>{"Wall_NormalDX-16x8.png"});
    EXPECT_EQ(run.outputNames("Flat.png"), std::vector<std::string>{"Flat_NormalDX-16x16.png"});
    EXPECT_EQ(pixelsOf(dir / "out" / "Flat_NormalDX-16x16.png").at<cv::Vec4b>(4, 4), cv::Vec4b(128, 128, 255, 255));
}

// ---- Power of two ----

TEST(ZentrixPowerOfTwo, ScaledWithMipmapsUnderThePattern) {
    testsupport::TempDir dir;
    writeRamp(dir / "Stone.png", 100, 60, 2);
    ZentrixPreset preset;
    preset.operationalMode = OperationalMode::powerOfTwoEnforce;
    preset.generateMipmaps = true;
    const JobRun run = runJob(preset, {dir / "Stone.png"}, dir / "out");
    const std::vector<std::string> expected{"Stone_POT_128x64.png", "Stone_POT_128x64_mip1_64.png",
                                            "Stone_POT_128x64_mip2_32.png", "Stone_POT_128x64_mip3_16.png"};
    EXPECT_EQ(run.outputNames("Stone.png"), expected);
    EXPECT_EQ(pixelsOf(dir / "out" / expected[0]).size(), cv::Size(128, 64));
    EXPECT_EQ(pixelsOf(dir / "out" / expected[0]).type(), CV_8UC4);
    EXPECT_EQ(pixelsOf(dir / "out" / expected[3]).size(), cv::Size(16, 8));
}

TEST(ZentrixPowerOfTwo, SixteenBitSourceIsWrittenAsEightBit) {
    testsupport::TempDir dir;
    cv::Mat deep(30, 50, CV_16UC4, cv::Scalar(65535, 32896, 0, 65535));
    image::PackedTexture::writePNG(image::Image{deep, {}}, dir / "Deep.png");
    ZentrixPreset preset;
    preset.operationalMode = OperationalMode::powerOfTwoEnforce;
    preset.potScaleMode = image::ScaleMode::fixedTarget(64);
    const JobRun run = runJob(preset, {dir / "Deep.png"}, dir / "out", "{name}");
    const cv::Mat written = pixelsOf(dir / "out" / "Deep.png");
    ASSERT_EQ(written.type(), CV_8UC4);
    EXPECT_EQ(written.size(), cv::Size(64, 64));
    EXPECT_EQ(written.at<cv::Vec4b>(10, 10), cv::Vec4b(255, 128, 0, 255));
}

TEST(ZentrixPowerOfTwo, UnreadableFileFails) {
    testsupport::TempDir dir;
    core::writeFileAtomically(dir / "junk.png", "not an image");
    ZentrixPreset preset;
    preset.operationalMode = OperationalMode::powerOfTwoEnforce;
    const JobRun run = runJob(preset, {dir / "junk.png"}, dir / "out");
    EXPECT_EQ(run.status.at("junk.png"), ProcessingStatus::failed);
    EXPECT_EQ(run.message.at("junk.png"), "Failed to open texture image at junk.png: not an image");
}

TEST(ZentrixPowerOfTwo, SameNameFromFourWorkersIsWrittenOnce) {
    testsupport::TempDir dir;
    std::vector<fs::path> files;
    for (int i = 0; i < 8; ++i) {
        files.push_back(dir / fmt::format("T{}.png", i));
        writeRamp(files.back(), 300 + i * 7, 200, 1);
    }
    ZentrixPreset preset;
    preset.operationalMode = OperationalMode::powerOfTwoEnforce;
    const JobRun run = runJob(preset, files, dir / "out", "{profile}");
    // The first item to claim the name writes it; the others fail naming it.
    EXPECT_EQ(run.report.successCount, 1);
    EXPECT_EQ(run.report.failureCount, 7);
    for (const auto& [source, status] : run.status) {
        if (status == ProcessingStatus::completed) continue;
        EXPECT_EQ(run.message.at(source).rfind("POT.png was already written by T", 0), 0u) << run.message.at(source);
    }
    const auto contents = folderContents(dir / "out");
    ASSERT_EQ(contents.size(), 1u); // no temporary file left behind
    EXPECT_EQ(contents.begin()->first, "POT.png");
    EXPECT_EQ(pixelsOf(dir / "out" / "POT.png").size(), cv::Size(256, 256));
}

// ---- Write errors ----

struct WriteErrorCase {
    const char* name;
    OperationalMode mode;
    const char* source;
    const char* written; // the file the error names
};

void PrintTo(const WriteErrorCase& c, std::ostream* os) { *os << c.name; }

class ZentrixWriteErrors : public ::testing::TestWithParam<WriteErrorCase> {};

// Every mode's PNG that doesn't fit on the disk fails with the file's name and
// the system's reason.
TEST_P(ZentrixWriteErrors, SayWhichFileAndWhy) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    // A left-to-right ramp under noise: no seam-free tile, and no small PNG.
    std::uint32_t seed = 12345;
    writePng(dir / c.source, 256, 256, [&seed](int x, int) {
        seed = seed * 1664525u + 1013904223u;
        const auto v = static_cast<std::uint8_t>(x * 15 / 16 + static_cast<int>(seed >> 28));
        return std::array<std::uint8_t, 4>{v, static_cast<std::uint8_t>(255 - v), v, 255};
    });
    testsupport::SmallDisk disk(16 * 1024);
    ZentrixPreset preset = packing();
    preset.operationalMode = c.mode;
    const JobRun run = runJob(preset, {dir / c.source}, disk.path(), "{name}");
    EXPECT_EQ(run.status.at(c.source), ProcessingStatus::failed);
    EXPECT_EQ(run.message.at(c.source), fmt::format("Could not write {}: {}", c.written, disk.fullText()));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ZentrixWriteErrors,
    ::testing::Values(
        WriteErrorCase{"Packing", OperationalMode::channelPackingORM, "Rock_AO.png", "Rock.png"},
        WriteErrorCase{"NormalConvert", OperationalMode::normalMapConvert, "Brick_NormalDX.png", "Brick_NormalGL.png"},
        WriteErrorCase{"NormalFromHeight", OperationalMode::normalFromHeight, "Brick_Height.png", "Brick_NormalGL.png"},
        WriteErrorCase{"PowerOfTwo", OperationalMode::powerOfTwoEnforce, "Stone.png", "Stone.png"},
        WriteErrorCase{"TilingPreview", OperationalMode::tilingCheck, "Tile.png", "Tile_Tiled2x2.png"},
        WriteErrorCase{"SpriteSheet", OperationalMode::spriteSheetAtlas, "hero.png", "hero_Atlas.png"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Tiling ----

struct TilingCase {
    int width;
    bool seamless;
};

void PrintTo(const TilingCase& c, std::ostream* os) { *os << "ramp of " << c.width; }

class ZentrixTiling : public ::testing::TestWithParam<TilingCase> {};

// A monotone 4-pixel ramp has an edge step exactly 3 times its mean step
// (passes); a 5-pixel one 4 times (fails).
TEST_P(ZentrixTiling, RatioAboveThreeFailsWithPreview) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    writeRamp(dir / "Tile.png", c.width, 4, 10);
    ZentrixPreset preset;
    preset.operationalMode = OperationalMode::tilingCheck;
    const JobRun run = runJob(preset, {dir / "Tile.png"}, dir / "out");
    if (c.seamless) {
        EXPECT_EQ(run.status.at("Tile.png"), ProcessingStatus::completed);
        EXPECT_TRUE(run.outputNames("Tile.png").empty());
        EXPECT_TRUE(run.logged("Tile: tiles seamlessly"));
        EXPECT_TRUE(!fs::exists(dir / "out") || fs::is_empty(dir / "out"));
    } else {
        EXPECT_EQ(run.status.at("Tile.png"), ProcessingStatus::failed);
        EXPECT_EQ(run.message.at("Tile.png"),
                  "Visible seam: left/right edges don't match (4x the usual pixel difference). Preview: Tile_Tiled2x2.png");
        EXPECT_EQ(sizeOf(dir / "out" / "Tile_Tiled2x2.png"), (image::PixelSize{10, 8}));
    }
}

INSTANTIATE_TEST_SUITE_P(Ramps, ZentrixTiling, ::testing::Values(TilingCase{4, true}, TilingCase{5, false}));

// Texture files that give no picture, queued or only found beside a queued
// map: each item fails with its own text, the batch and the planner end,
// and nothing is written or read from a FIFO or /dev/zero.
TEST(ZentrixInputs, FilesThatGiveNoPictureFailByNameAndWriteNothing) {
    struct Case {
        OperationalMode mode;
        std::vector<std::string> queued;
        std::map<std::string, std::string> expected;
    };
    const std::vector<Case> cases{
        {OperationalMode::powerOfTwoEnforce,
         {"pipe.png", "zero.png", "header.tga", "cut.jpg"},
         {{"pipe.png", "Failed to open texture image at pipe.png: not a regular file"},
          {"zero.png", "Failed to open texture image at zero.png: not a regular file"},
          {"header.tga", "header.tga is damaged: the file ends before the picture does"},
          {"cut.jpg", "cut.jpg is damaged: Premature end of JPEG file"}}},
        // Rock_Roughness.png is a FIFO that only the packing of Rock_AO.png
        // reads; Clay_AO.png and Mud_AO.png are unreadable primary maps beside
        // good roughness maps.
        {OperationalMode::channelPackingORM,
         {"Rock_AO.png", "Stone_AO.tga", "Slab_AO.png", "Clay_AO.png", "Mud_AO.png"},
         {{"Rock_AO.png", "Could not read texture map Rock_Roughness.png: not a regular file."},
          {"Stone_AO.tga", "Stone_AO.tga is damaged: the file ends before the picture does"},
          {"Slab_AO.png", "Could not read texture map Slab_Roughness.png: not a regular file."},
          {"Clay_AO.png", "No valid source texture maps found for channel packing. "
                          "Could not read texture map Clay_AO.png: not a regular file."},
          {"Mud_AO.png", "No valid source texture maps found for channel packing. "
                         "Could not read texture map Mud_AO.png: not an image."}}},
        {OperationalMode::tilingCheck,
         {"header.tga", "pipe.png"},
         {{"header.tga", "header.tga is damaged: the file ends before the picture does"},
          {"pipe.png", "Could not read texture map pipe.png: not a regular file."}}},
    };
    for (const auto& c : cases) {
        testsupport::TempDir dir;
        testsupport::makeFifo(dir / "pipe.png");
        testsupport::linkToZeros(dir / "zero.png");
        testsupport::tgaHeaderOnly(dir / "header.tga", 64, 64);
        testsupport::cutFile(testsupport::magickPicture(dir / "cut.jpg", 256, 256), 0.4);
        writeGray(dir / "Rock_AO.png", 32, 32, 200);
        testsupport::makeFifo(dir / "Rock_Roughness.png");
        testsupport::tgaHeaderOnly(dir / "Stone_AO.tga", 64, 64);
        writeGray(dir / "Slab_AO.png", 32, 32, 90);
        testsupport::linkToZeros(dir / "Slab_Roughness.png");
        testsupport::makeFifo(dir / "Clay_AO.png");
        writeGray(dir / "Clay_Roughness.png", 32, 32, 60);
        core::writeFileAtomically(dir / "Mud_AO.png", "these are no pixels");
        writeGray(dir / "Mud_Roughness.png", 32, 32, 70);
        fs::create_directory(dir / "out");
        std::vector<fs::path> files;
        for (const auto& name : c.queued) files.push_back(dir / name);

        ZentrixPreset preset;
        preset.operationalMode = c.mode;
        std::vector<batch::BatchItem> items;
        for (const auto& f : files) items.emplace_back(core::Uuid::random(), f);
        batch::BatchConfiguration configuration;
        configuration.outputDirectory = dir / "out";
        configuration.namingPattern = preset.defaultNamingPattern();
        EXPECT_EQ(presets::OutputPlanner::plan(preset, items, configuration, true).size(), items.size());

        const long before = testsupport::peakResidentKiB();
        const JobRun run = runJob(preset, files, dir / "out");
        if (!testsupport::kUnderSanitizer) {
            EXPECT_LT(testsupport::peakResidentKiB() - before, 256 * 1024);
        }
        for (const auto& [name, text] : c.expected) {
            EXPECT_EQ(run.status.at(name), ProcessingStatus::failed) << name;
            EXPECT_EQ(run.message.at(name), text);
        }
        EXPECT_TRUE(fs::is_empty(dir / "out"));
    }
}

} // namespace
