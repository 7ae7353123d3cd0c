// Real sprite frames (the system's icon themes plus soft-edged generated
// rings) through the compiler and back out of the sheet through every data
// file: the rebuilt frames equal their sources pixel for pixel, and every
// pair of frames keeps its padding.

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "SpriteTestFrames.h"
#include "core/Files.h"
#include "core/Json.h"
#include "core/Numbers.h"
#include "core/Text.h"
#include "image/sprite/SpriteSheetCompiler.h"
#include "support/TestSupport.h"

using image::RGBAImage;
using image::SpriteRect;
using image::SpriteSize;
using Compiler = image::SpriteSheetCompiler;
using Json = core::Json;
namespace fs = std::filesystem;

namespace {

struct Source {
    std::string name;
    RGBAImage pixels;
};

// Real icons copied under unique names, and soft rings with transparent
// centres. Empty when the system has no icons.
std::vector<Source> makeFrames(const fs::path& dir, std::size_t icons, int maxSide, std::vector<fs::path>& urls) {
    std::vector<Source> out;
    const auto found = spritetest::systemIcons(icons, maxSide);
    if (found.empty()) return out;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const std::string name = fmt::format("{:03}_{}", i, found[i].filename().string());
        fs::copy_file(found[i], dir / name);
        urls.push_back(dir / name);
        out.push_back({name, *spritetest::readPng(dir / name)});
    }
    for (int i = 0; i < 8; ++i) {
        const std::string name = fmt::format("ring_{}.png", i);
        auto ring = spritetest::softRing(20 + 7 * i, 18 + 5 * i, i);
        spritetest::writePng(dir / name, ring);
        urls.push_back(dir / name);
        out.push_back({name, std::move(ring)});
    }
    return out;
}

struct Placed {
    SpriteRect onSheet;      // trimmed pixels on the sheet
    SpriteRect inSource;     // where they go in the untrimmed frame
    SpriteSize sourceSize;
};

// "{a,b}" or "{{a,b},{c,d}}" as numbers.
std::vector<double> numbers(const std::string& text) {
    std::vector<double> out;
    std::string cur;
    for (char c : text + ",") {
        if (c == '{' || c == '}' || c == ' ') continue;
        if (c == ',') {
            if (!cur.empty()) out.push_back(core::parseDouble(cur).value());
            cur.clear();
        } else {
            cur += c;
        }
    }
    return out;
}

int whole(double v) { return static_cast<int>(std::lround(v)); }

std::map<std::string, Placed> fromJson(const Json& frame, std::map<std::string, Placed> acc, const std::string& name) {
    const auto& f = frame["frame"];
    const auto& s = frame["spriteSourceSize"];
    acc[name] = {{f["x"], f["y"], f["w"], f["h"]}, {s["x"], s["y"], s["w"], s["h"]}, {frame["sourceSize"]["w"], frame["sourceSize"]["h"]}};
    return acc;
}

Json pythonLoad(const std::string& kind, const fs::path& file, const fs::path& dir) {
    const fs::path script = dir / "load.py";
    if (!fs::exists(script))
        core::writeFileAtomically(script, "import json, plistlib, sys, yaml\n"
                                          "kind, path = sys.argv[1], sys.argv[2]\n"
                                          "data = open(path, 'rb').read()\n"
                                          "if kind == 'json': out = json.loads(data.decode('utf-8'))\n"
                                          "elif kind == 'plist': out = plistlib.loads(data)\n"
                                          "else: out = yaml.safe_load(data.decode('utf-8'))\n"
                                          "sys.stdout.write(json.dumps(out))\n");
    return core::parseJson(testsupport::runTool({spritetest::python(), script.string(), kind, file.string()}).output);
}

// Every data format's description of where each frame lies, read back
// from the written files by real parsers.
std::map<std::string, std::map<std::string, Placed>> readBack(const Compiler::Atlas& atlas, const std::vector<Source>& sources,
                                                              const fs::path& dir) {
    const auto& page = atlas.pages.at(0);
    std::vector<std::string> order;
    for (const auto& s : sources) order.push_back(s.name);
    core::writeFileAtomically(dir / "sheet.json", page.jsonHash("sheet.png", std::string("anim"), {}));
    core::writeFileAtomically(dir / "sheet-array.json", page.jsonArray("sheet.png", {}));
    core::writeFileAtomically(dir / "sheet.plist", page.cocosPlist("sheet.png"));
    core::writeFileAtomically(dir / "sheet.png.meta", page.unityMeta("sheet.png", 100));
    core::writeFileAtomically(dir / "sheet.tres", atlas.godotSpriteFrames({"sheet.png"}, "anim", order, 12));

    std::map<std::string, std::map<std::string, Placed>> out;
    const Json hash = pythonLoad("json", dir / "sheet.json", dir);
    for (const auto& [name, f] : hash["frames"].items()) out["json"] = fromJson(f, out["json"], name);
    const Json array = pythonLoad("json", dir / "sheet-array.json", dir);
    for (const auto& f : array["frames"]) out["json-array"] = fromJson(f, out["json-array"], f["filename"]);

    const Json plist = pythonLoad("plist", dir / "sheet.plist", dir);
    for (const auto& [name, f] : plist["frames"].items()) {
        const auto rect = numbers(f["textureRect"]), size = numbers(f["spriteSourceSize"]), offset = numbers(f["spriteOffset"]);
        const double w = rect[2], h = rect[3], sw = size[0], sh = size[1];
        // offset x = centre x - sw/2; offset y = sh/2 - centre y
        const int sx = whole(offset[0] + sw / 2 - w / 2), sy = whole(sh / 2 - offset[1] - h / 2);
        out["cocos"][name] = {{whole(rect[0]), whole(rect[1]), whole(w), whole(h)}, {sx, sy, whole(w), whole(h)}, {whole(sw), whole(sh)}};
    }

    const Json meta = pythonLoad("yaml", dir / "sheet.png.meta", dir);
    std::map<std::string, SpriteSize> sizes;
    for (const auto& s : sources) sizes[s.name.substr(0, s.name.rfind('.'))] = {s.pixels.width, s.pixels.height};
    for (const auto& sprite : meta["TextureImporter"]["spriteSheet"]["sprites"]) {
        const std::string stem = sprite["name"];
        const int w = sprite["rect"]["width"], h = sprite["rect"]["height"];
        const int x = sprite["rect"]["x"], y = page.sheetHeight - int(sprite["rect"]["y"]) - h;
        // The importer has no source size: take the file's, place by the pivot.
        const SpriteSize size = sizes.at(stem);
        const double px = sprite["pivot"]["x"], py = sprite["pivot"]["y"];
        const int sx = whole(size.width / 2.0 - px * w);
        const int maxY = whole(size.height - (size.height / 2.0 - py * h));
        out["unity"][stem + ".png"] = {{x, y, w, h}, {sx, maxY - h, w, h}, size};
    }

    const auto lines = core::split(core::readFile(dir / "sheet.tres"), '\n');
    std::size_t entry = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!core::startsWith(lines[i], "[sub_resource")) continue;
        const auto region = numbers("{" + lines[i + 2].substr(std::string("region = Rect2(").size(), lines[i + 2].size() - 16) + "}");
        std::vector<double> margin{0, 0, 0, 0};
        if (core::startsWith(lines[i + 3], "margin"))
            margin = numbers("{" + lines[i + 3].substr(std::string("margin = Rect2(").size(), lines[i + 3].size() - 16) + "}");
        const std::string& name = order.at(entry++);
        out["godot"][name] = {{whole(region[0]), whole(region[1]), whole(region[2]), whole(region[3])},
                              {whole(margin[0]), whole(margin[1]), whole(region[2]), whole(region[3])},
                              {whole(region[2] + margin[2]), whole(region[3] + margin[3])}};
    }
    return out;
}

RGBAImage rebuild(const RGBAImage& sheet, const Placed& p) {
    RGBAImage out = spritetest::makeFrame(p.sourceSize.width, p.sourceSize.height, [](int, int) { return spritetest::Pixel{}; });
    const RGBAImage piece = sheet.cropped(p.onSheet);
    for (int y = 0; y < piece.height; ++y)
        for (int x = 0; x < piece.width; ++x)
            std::memcpy(out.pixels.data() + (static_cast<std::size_t>(p.inSource.y + y) * static_cast<std::size_t>(out.width) + static_cast<std::size_t>(p.inSource.x + x)) * 4,
                        piece.pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(piece.width) + static_cast<std::size_t>(x)) * 4, 4);
    return out;
}

} // namespace

class SpriteSheetRealFrames : public ::testing::TestWithParam<int> {};

TEST_P(SpriteSheetRealFrames, FramesComeBackExactlyThroughEveryDataFile) {
    const int extrude = GetParam();
    testsupport::TempDir dir;
    std::vector<fs::path> urls;
    const auto sources = makeFrames(dir.path(), 40, 64, urls);
    if (sources.empty()) GTEST_SKIP() << "no PNG icons under /usr/share/icons or /usr/share/pixmaps";

    Compiler::Options o;
    o.padding = 2;
    o.extrude = extrude;
    o.maxSheetSize = 2048;
    const auto atlas = Compiler().compileAtlas(urls, o, false);
    ASSERT_EQ(atlas.pages.size(), 1u);
    spritetest::writePng(dir / "sheet.png", RGBAImage::fromMat(atlas.pages[0].image.pixels).value());
    const RGBAImage sheet = spritetest::readPng(dir / "sheet.png").value();

    const auto formats = readBack(atlas, sources, dir.path());
    ASSERT_EQ(formats.size(), 5u);
    for (const auto& [format, placed] : formats) {
        ASSERT_EQ(placed.size(), sources.size()) << format;
        for (const auto& source : sources) {
            const Placed& p = placed.at(source.name);
            ASSERT_EQ(p.sourceSize, (SpriteSize{source.pixels.width, source.pixels.height})) << format << " " << source.name;
            // The trimmed part holds the file's bytes exactly, hidden colour included.
            ASSERT_EQ(sheet.cropped(p.onSheet), source.pixels.cropped(p.inSource)) << format << " " << source.name;
            // Rebuilt whole; only the cut-away transparent border is new.
            ASSERT_TRUE(Compiler::samePixels(rebuild(sheet, p), source.pixels)) << format << " " << source.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Extrude, SpriteSheetRealFrames, ::testing::Values(1, 2));

TEST(SpriteSheetRealFrames, HundredsOfFramesKeepTheirPadding) {
    testsupport::TempDir dir;
    std::vector<fs::path> urls;
    const auto sources = makeFrames(dir.path(), 320, 96, urls);
    if (sources.empty()) GTEST_SKIP() << "no PNG icons under /usr/share/icons or /usr/share/pixmaps";
    ASSERT_GE(sources.size(), 100u);

    for (const bool rotation : {false, true}) {
        Compiler::Options o;
        o.padding = 2;
        o.extrude = 1;
        o.maxSheetSize = 1024;
        o.allowRotation = rotation;
        const auto atlas = Compiler().compileAtlas(urls, o, true);
        EXPECT_EQ(atlas.frameCount(), sources.size());
        for (const auto& page : atlas.pages) {
            EXPECT_LE(page.sheetWidth, 1024);
            EXPECT_LE(page.sheetHeight, 1024);
            EXPECT_EQ(page.image.pixels.cols, page.sheetWidth);
            EXPECT_EQ(page.image.pixels.rows, page.sheetHeight);
            std::vector<SpriteRect> covered;
            for (const auto& f : page.frames) {
                if (f.isDuplicate) continue;
                const int w = f.rotated ? f.frame.height : f.frame.width, h = f.rotated ? f.frame.width : f.frame.height;
                covered.push_back({f.frame.x - 1, f.frame.y - 1, w + 2, h + 2});
            }
            for (std::size_t i = 0; i < covered.size(); ++i) {
                const SpriteRect& a = covered[i];
                ASSERT_GE(a.x, 0);
                ASSERT_GE(a.y, 0);
                ASSERT_LE(a.maxX(), page.sheetWidth);
                ASSERT_LE(a.maxY(), page.sheetHeight);
                for (std::size_t j = i + 1; j < covered.size(); ++j) {
                    const SpriteRect& b = covered[j];
                    const bool apart = a.maxX() + 2 <= b.x || b.maxX() + 2 <= a.x || a.maxY() + 2 <= b.y || b.maxY() + 2 <= a.y;
                    ASSERT_TRUE(apart) << "rotation " << rotation << ": frames " << i << " and " << j;
                }
            }
        }
    }
}
