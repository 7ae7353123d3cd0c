#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SpriteTestFrames.h"
#include "support/TestSupport.h"
#include "core/Files.h"
#include "image/sprite/SpriteSheetCompiler.h"

using image::RGBAImage;
using image::SpriteRect;
using image::SpriteSize;
using spritetest::makeFrame;
using spritetest::Pixel;
using spritetest::writePng;
using Compiler = image::SpriteSheetCompiler;
using Kind = Compiler::AtlasError::Kind;
namespace fs = std::filesystem;

namespace {

Compiler::Options plain(int padding = 0, int extrude = 0, bool trim = true) {
    Compiler::Options o;
    o.padding = padding;
    o.extrude = extrude;
    o.trim = trim;
    return o;
}

RGBAImage sheetPixels(const Compiler::AtlasResult& page) {
    return *RGBAImage::fromMat(page.image.pixels);
}

// A frame's pixels read back from the sheet (unrotated).
RGBAImage onSheet(const Compiler::AtlasResult& page, const Compiler::Frame& f) {
    return sheetPixels(page).cropped(f.frame);
}

Kind thrownKind(const std::function<void()>& f) {
    try {
        f();
    } catch (const Compiler::AtlasError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "nothing thrown";
    return Kind::failedToCreateImage;
}

RGBAImage star(int seed) {
    return makeFrame(12, 9, [seed](int x, int y) {
        const bool on = (x + y + seed) % 3 != 0;
        return Pixel{static_cast<std::uint8_t>(x * 20 + seed), static_cast<std::uint8_t>(y * 25), 77, static_cast<std::uint8_t>(on ? 255 : 90)};
    });
}

} // namespace

TEST(SpriteSheetCompiler, TenCopiesAreDrawnOnce) {
    testsupport::TempDir dir;
    std::vector<fs::path> urls;
    for (int i = 0; i < 10; ++i) {
        urls.push_back(dir / ("walk_" + std::to_string(i) + ".png"));
        writePng(urls.back(), star(3));
    }
    const auto atlas = Compiler().compileAtlas(urls, plain(2, 1), false);
    ASSERT_EQ(atlas.pages.size(), 1u);
    const auto& page = atlas.pages[0];
    ASSERT_EQ(page.frames.size(), 10u);
    EXPECT_EQ(page.duplicateCount, 9);
    EXPECT_EQ(atlas.duplicateCount(), 9);
    EXPECT_EQ(atlas.frameCount(), 10u);
    EXPECT_FALSE(page.frames[0].isDuplicate);
    for (int i = 1; i < 10; ++i) {
        EXPECT_TRUE(page.frames[static_cast<std::size_t>(i)].isDuplicate);
        EXPECT_EQ(page.frames[static_cast<std::size_t>(i)].frame, page.frames[0].frame);
        EXPECT_EQ(page.frames[static_cast<std::size_t>(i)].name, "walk_" + std::to_string(i) + ".png");
    }
    EXPECT_EQ(onSheet(page, page.frames[0]), star(3));
    // One drawn frame: a 12 x 9 piece with its ring, the rest of the sheet empty.
    const RGBAImage sheet = sheetPixels(page);
    int visible = 0;
    for (std::size_t i = 3; i < sheet.pixels.size(); i += 4) visible += sheet.pixels[i] != 0;
    EXPECT_EQ(visible, 14 * 11);
}

TEST(SpriteSheetCompiler, OffsetCopiesFoldWhenTrimmed) {
    testsupport::TempDir dir;
    const auto shape = star(5);
    std::vector<fs::path> urls;
    const std::vector<std::pair<int, int>> offsets{{0, 0}, {10, 3}, {4, 20}};
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        const auto [ox, oy] = offsets[i];
        urls.push_back(dir / ("f" + std::to_string(i) + ".png"));
        writePng(urls.back(), makeFrame(32, 32, [&](int x, int y) {
                     const int sx = x - ox, sy = y - oy;
                     if (sx < 0 || sy < 0 || sx >= shape.width || sy >= shape.height) return Pixel{90, 40, 10, 0};
                     return spritetest::pixelAt(shape, sx, sy);
                 }));
    }
    auto page = Compiler().compile(urls, plain());
    ASSERT_EQ(page.frames.size(), 3u);
    EXPECT_EQ(page.duplicateCount, 2);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(page.frames[i].spriteSourceSize, (SpriteRect{offsets[i].first, offsets[i].second, 12, 9}));
        EXPECT_EQ(page.frames[i].sourceSize, (SpriteSize{32, 32}));
        EXPECT_TRUE(page.frames[i].trimmed);
        EXPECT_EQ(page.frames[i].frame, page.frames[0].frame);
    }
    // Without trimming they are different pictures.
    page = Compiler().compile(urls, plain(0, 0, false));
    EXPECT_EQ(page.duplicateCount, 0);
    EXPECT_FALSE(page.frames[1].trimmed);
    EXPECT_EQ(page.frames[1].spriteSourceSize, (SpriteRect{0, 0, 32, 32}));
}

TEST(SpriteSheetCompiler, TransparentFrameKeepsOnePixel) {
    testsupport::TempDir dir;
    writePng(dir / "empty.png", makeFrame(20, 10, [](int, int) { return Pixel{1, 2, 3, 0}; }));
    const auto page = Compiler().compile({dir / "empty.png"}, plain());
    ASSERT_EQ(page.frames.size(), 1u);
    EXPECT_TRUE(page.frames[0].trimmed);
    EXPECT_EQ(page.frames[0].spriteSourceSize, (SpriteRect{0, 0, 1, 1}));
    EXPECT_EQ(page.frames[0].frame.width, 1);
    EXPECT_EQ(page.frames[0].sourceSize, (SpriteSize{20, 10}));
}

TEST(SpriteSheetCompiler, UndecodableFramesAreListedNotPacked) {
    testsupport::TempDir dir;
    core::writeFileAtomically(dir / "notes.png", "this is not a picture");
    core::writeFileAtomically(dir / "empty.png", "");
    writePng(dir / "good.png", star(1));
    const std::vector<fs::path> urls{dir / "notes.png", dir / "good.png", dir / "missing.png", dir / "empty.png"};
    const auto atlas = Compiler().compileAtlas(urls, plain(), true);
    ASSERT_EQ(atlas.frameCount(), 1u);
    EXPECT_EQ(atlas.pages[0].frames[0].name, "good.png");
    std::vector<std::string> leftOut;
    for (const auto& frame : atlas.undecodableFrames) {
        leftOut.push_back(frame.name);
        EXPECT_TRUE(frame.reason.find(frame.name) != std::string::npos) << frame.reason;
        EXPECT_FALSE(frame.damaged) << frame.name;
    }
    EXPECT_EQ(leftOut, (std::vector<std::string>{"notes.png", "missing.png", "empty.png"}));

    EXPECT_EQ(thrownKind([&] { Compiler().compileAtlas({dir / "notes.png", dir / "missing.png"}, plain(), true); }),
              Kind::failedToLoadFrames);
    EXPECT_EQ(thrownKind([&] { Compiler().compileAtlas({}, plain(), true); }), Kind::emptyFrameList);
}

TEST(SpriteSheetCompiler, ErrorTextsAreTheFixedOnes) {
    EXPECT_STREQ(Compiler::AtlasError::sheetTooLarge(2048).what(),
                 "The frames don't fit on a 2048x2048 sheet. Split the sequence or scale it down.");
    EXPECT_STREQ(Compiler::AtlasError::emptyFrameList().what(), "No animation frames provided for sprite-sheet compilation.");
    EXPECT_STREQ(Compiler::AtlasError::failedToLoadFrames().what(), "Failed to decode frame images from provided URLs.");
    EXPECT_STREQ(Compiler::AtlasError::failedToCreateContext().what(), "Unable to create graphics bitmap context for atlas.");
    EXPECT_STREQ(Compiler::AtlasError::failedToCreateImage().what(), "Failed to render final sprite sheet image.");
}

TEST(SpriteSheetCompiler, HashCollisionsAreConfirmedByPixels) {
    testsupport::TempDir dir;
    std::vector<fs::path> urls;
    const std::vector<int> seeds{1, 2, 1, 2, 3};
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        urls.push_back(dir / ("f" + std::to_string(i) + ".png"));
        writePng(urls.back(), star(seeds[i]));
    }
    // Every frame hashes alike: only equal pixels may fold.
    const Compiler colliding([](const RGBAImage&) { return std::uint64_t{42}; });
    const auto page = colliding.compile(urls, plain(1, 0));
    ASSERT_EQ(page.frames.size(), 5u);
    EXPECT_EQ(page.duplicateCount, 2);
    EXPECT_FALSE(page.frames[1].isDuplicate);
    EXPECT_TRUE(page.frames[2].isDuplicate);
    EXPECT_EQ(page.frames[2].frame, page.frames[0].frame);
    EXPECT_TRUE(page.frames[3].isDuplicate);
    EXPECT_EQ(page.frames[3].frame, page.frames[1].frame);
    EXPECT_FALSE(page.frames[4].isDuplicate);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(onSheet(page, page.frames[i]), star(seeds[i])) << i;
}

TEST(SpriteSheetCompiler, HiddenColourUnderZeroAlphaDoesNotMatter) {
    const auto a = makeFrame(4, 4, [](int x, int) { return x < 2 ? Pixel{9, 9, 9, 255} : Pixel{255, 0, 0, 0}; });
    const auto b = makeFrame(4, 4, [](int x, int) { return x < 2 ? Pixel{9, 9, 9, 255} : Pixel{0, 0, 255, 0}; });
    const auto c = makeFrame(4, 4, [](int x, int) { return x < 2 ? Pixel{9, 9, 9, 255} : Pixel{0, 0, 255, 1}; });
    EXPECT_TRUE(Compiler::samePixels(a, b));
    EXPECT_EQ(Compiler::frameHash(a), Compiler::frameHash(b));
    EXPECT_FALSE(Compiler::samePixels(a, c));
    EXPECT_NE(Compiler::frameHash(a), Compiler::frameHash(c));
    // Same bytes, other shape.
    RGBAImage d = a;
    d.width = 8;
    d.height = 2;
    EXPECT_FALSE(Compiler::samePixels(a, d));
    EXPECT_NE(Compiler::frameHash(a), Compiler::frameHash(d));
    const std::vector<RGBAImage> images{a, c, b};
    const auto dup = Compiler::findDuplicates(images, {});
    EXPECT_EQ(dup, (std::vector<std::optional<std::size_t>>{std::nullopt, std::nullopt, 0}));
}

// Extrusion: the frame's rectangle holds exactly its pixels, the ring around
// it repeats the edge pixels, for soft-edged frames at several widths.
class SpriteSheetExtrude : public ::testing::TestWithParam<int> {};

TEST_P(SpriteSheetExtrude, RingRepeatsEdgesAndFrameStaysExact) {
    const int e = GetParam();
    testsupport::TempDir dir;
    std::vector<fs::path> urls;
    std::vector<RGBAImage> frames;
    for (int i = 0; i < 6; ++i) {
        frames.push_back(spritetest::softRing(24 + 4 * i, 20 + 2 * i, i));
        urls.push_back(dir / ("ring" + std::to_string(i) + ".png"));
        writePng(urls.back(), frames.back());
    }
    const auto page = Compiler().compile(urls, plain(2, e, false));
    const RGBAImage sheet = sheetPixels(page);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto& f = page.frames[i];
        ASSERT_EQ(sheet.cropped(f.frame), frames[i]) << i;
        for (int d = 1; d <= e; ++d) {
            for (int x = 0; x < f.frame.width; ++x) {
                const auto top = spritetest::pixelAt(sheet, f.frame.x + x, f.frame.y - d);
                const auto edge = spritetest::pixelAt(frames[i], x, 0);
                ASSERT_EQ(top.a, edge.a);
                ASSERT_EQ(top.r, edge.r);
            }
            const auto corner = spritetest::pixelAt(sheet, f.frame.maxX() - 1 + d, f.frame.maxY() - 1 + d);
            const auto last = spritetest::pixelAt(frames[i], f.frame.width - 1, f.frame.height - 1);
            ASSERT_EQ(corner.a, last.a);
            ASSERT_EQ(corner.g, last.g);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, SpriteSheetExtrude, ::testing::Values(0, 1, 2, 4));

TEST(SpriteSheetCompiler, RotatedFramesAreStoredClockwise) {
    testsupport::TempDir dir;
    auto o = plain(0, 1);
    o.allowRotation = true;
    o.maxSheetSize = 64;
    std::map<std::string, RGBAImage> sources;
    std::vector<fs::path> urls;
    sources["tall.png"] = makeFrame(10, 60, [](int x, int y) { return Pixel{static_cast<std::uint8_t>(x * 20), static_cast<std::uint8_t>(y * 4), 1, 255}; });
    for (int i = 0; i < 3; ++i)
        sources["wide" + std::to_string(i) + ".png"] =
            makeFrame(60, 10, [i](int x, int y) { return Pixel{static_cast<std::uint8_t>(x + i), static_cast<std::uint8_t>(y * 9), 0, 255}; });
    for (const auto& [name, img] : sources) {
        urls.push_back(dir / name);
        writePng(urls.back(), img);
    }
    const auto page = Compiler().compile(urls, o);
    EXPECT_EQ(page.sheetWidth, 64);
    EXPECT_EQ(page.sheetHeight, 64);
    const RGBAImage sheet = sheetPixels(page);
    int rotated = 0;
    for (const auto& f : page.frames) {
        const RGBAImage& src = sources.at(f.name);
        EXPECT_EQ(f.frame.width, src.width); // the size before rotation
        if (!f.rotated) {
            EXPECT_EQ(sheet.cropped(f.frame), src);
            continue;
        }
        ++rotated;
        EXPECT_EQ(sheet.cropped({f.frame.x, f.frame.y, f.frame.height, f.frame.width}), src.rotatedClockwise()) << f.name;
    }
    EXPECT_GE(rotated, 1);
}

TEST(SpriteSheetCompiler, ScaleAppliesBeforeTrimming) {
    testsupport::TempDir dir;
    writePng(dir / "big.png", makeFrame(40, 20, [](int x, int) { return x < 20 ? Pixel{0, 200, 0, 255} : Pixel{0, 0, 0, 0}; }));
    auto o = plain();
    o.scale = 0.5;
    const auto page = Compiler().compile({dir / "big.png"}, o);
    ASSERT_EQ(page.frames.size(), 1u);
    EXPECT_EQ(page.frames[0].sourceSize, (SpriteSize{20, 10}));
    EXPECT_EQ(page.frames[0].spriteSourceSize.x, 0);
    EXPECT_LE(page.frames[0].spriteSourceSize.width, 13); // lanczos ringing reaches a pixel or two
    EXPECT_GE(page.frames[0].spriteSourceSize.width, 10);
}
