#include <map>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "SpriteTestFrames.h"
#include "support/TestSupport.h"
#include "core/Files.h"
#include "core/Json.h"
#include "core/Numbers.h"
#include "core/Text.h"
#include "image/sprite/SpriteSheetCompiler.h"

using image::SpriteRect;
using Compiler = image::SpriteSheetCompiler;
using Json = core::Json;
namespace fs = std::filesystem;

namespace {

Compiler::Frame frame(std::string name, SpriteRect at, SpriteRect source, image::SpriteSize size, bool dup = false) {
    Compiler::Frame f;
    f.name = std::move(name);
    f.frame = at;
    f.spriteSourceSize = source;
    f.sourceSize = size;
    f.trimmed = source.width != size.width || source.height != size.height;
    f.isDuplicate = dup;
    return f;
}

// One trimmed frame: (2, 4, 10, 12) inside 16 x 20, at (5, 6) on a 64 x 32 sheet.
Compiler::AtlasResult onePage() {
    Compiler::AtlasResult page;
    page.sheetWidth = 64;
    page.sheetHeight = 32;
    page.frames.push_back(frame("walk_01.png", {5, 6, 10, 12}, {2, 4, 10, 12}, {16, 20}));
    return page;
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
    const auto r = testsupport::runTool({spritetest::python(), script.string(), kind, file.string()});
    return core::parseJson(r.output);
}

} // namespace

TEST(SpriteSheetWriters, JsonHashGolden) {
    const std::string expected = R"({
  "animations": {
    "walk": [
      "walk_01.png"
    ]
  },
  "frames": {
    "walk_01.png": {
      "frame": {
        "h": 12,
        "w": 10,
        "x": 5,
        "y": 6
      },
      "rotated": false,
      "sourceSize": {
        "h": 20,
        "w": 16
      },
      "spriteSourceSize": {
        "h": 12,
        "w": 10,
        "x": 2,
        "y": 4
      },
      "trimmed": true
    }
  },
  "meta": {
    "app": "Ostrand",
    "format": "RGBA8888",
    "image": "hero/sheet.png",
    "scale": "1",
    "size": {
      "h": 32,
      "w": 64
    },
    "version": "1.0"
  }
}
)";
    EXPECT_EQ(onePage().jsonHash("hero/sheet.png", std::string("walk"), {}), expected);
}

TEST(SpriteSheetWriters, JsonArrayGolden) {
    const std::string expected = R"({
  "frames": [
    {
      "filename": "walk_01.png",
      "frame": {
        "h": 12,
        "w": 10,
        "x": 5,
        "y": 6
      },
      "rotated": false,
      "sourceSize": {
        "h": 20,
        "w": 16
      },
      "spriteSourceSize": {
        "h": 12,
        "w": 10,
        "x": 2,
        "y": 4
      },
      "trimmed": true
    }
  ],
  "meta": {
    "app": "Ostrand",
    "format": "RGBA8888",
    "image": "sheet-0.png",
    "related_multi_packs": [
      "sheet-1.png",
      "sheet-2.png"
    ],
    "scale": "1",
    "size": {
      "h": 32,
      "w": 64
    },
    "version": "1.0"
  }
}
)";
    EXPECT_EQ(onePage().jsonArray("sheet-0.png", {"sheet-1.png", "sheet-2.png"}), expected);
}

TEST(SpriteSheetWriters, CocosPlistGolden) {
    const std::string expected = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>frames</key>
	<dict>
		<key>walk_01.png</key>
		<dict>
			<key>aliases</key>
			<array/>
			<key>spriteOffset</key>
			<string>{-1,0}</string>
			<key>spriteSize</key>
			<string>{10,12}</string>
			<key>spriteSourceSize</key>
			<string>{16,20}</string>
			<key>textureRect</key>
			<string>{{5,6},{10,12}}</string>
			<key>textureRotated</key>
			<false/>
		</dict>
	</dict>
	<key>metadata</key>
	<dict>
		<key>format</key>
		<integer>3</integer>
		<key>pixelFormat</key>
		<string>RGBA8888</string>
		<key>premultiplyAlpha</key>
		<false/>
		<key>realTextureFileName</key>
		<string>sheet.png</string>
		<key>size</key>
		<string>{64,32}</string>
		<key>textureFileName</key>
		<string>sheet.png</string>
	</dict>
</dict>
</plist>
)";
    EXPECT_EQ(onePage().cocosPlist("sheet.png"), expected);
}

TEST(SpriteSheetWriters, UnityMetaGolden) {
    const std::string expected = "fileFormatVersion: 2\n"
                                 "guid: GUID\n"
                                 "TextureImporter:\n"
                                 "  serializedVersion: 11\n"
                                 "  mipmaps:\n"
                                 "    enableMipMap: 0\n"
                                 "  textureType: 8\n"
                                 "  spriteMode: 2\n"
                                 "  spritePixelsToUnits: 100\n"
                                 "  alphaIsTransparency: 1\n"
                                 "  filterMode: 1\n"
                                 "  spriteSheet:\n"
                                 "    serializedVersion: 2\n"
                                 "    sprites:\n"
                                 "    - serializedVersion: 2\n"
                                 "      name: walk_01\n"
                                 "      rect:\n"
                                 "        serializedVersion: 2\n"
                                 "        x: 5\n"
                                 "        y: 14\n"
                                 "        width: 10\n"
                                 "        height: 12\n"
                                 "      alignment: 9\n"
                                 "      pivot: {x: 0.6000, y: 0.5000}\n"
                                 "      border: {x: 0, y: 0, z: 0, w: 0}\n";
    std::string text = onePage().unityMeta("sheet.png", 100);
    const auto at = text.find("guid: ");
    ASSERT_NE(at, std::string::npos);
    const std::string written = text.substr(at + 6, 32);
    EXPECT_EQ(written.size(), 32u);
    EXPECT_EQ(written.find_first_not_of("0123456789abcdef"), std::string::npos);
    text.replace(at + 6, 32, "GUID");
    EXPECT_EQ(text, expected);
}

TEST(SpriteSheetWriters, UnityGuidIsSha256OfTheImageName) {
    testsupport::TempDir dir;
    core::writeFileAtomically(dir / "name.txt", "sheet.png");
    const auto r = testsupport::runTool({"sha256sum", (dir / "name.txt").string()});
    const std::string expected = r.output.substr(0, 32);
    const auto page = onePage();
    EXPECT_NE(page.unityMeta("sheet.png", 100).find("guid: " + expected + "\n"), std::string::npos);
    // Only the image name matters.
    Compiler::AtlasResult other;
    other.sheetWidth = 8;
    other.sheetHeight = 8;
    EXPECT_NE(other.unityMeta("sheet.png", 32).find("guid: " + expected + "\n"), std::string::npos);
    EXPECT_EQ(other.unityMeta("other.png", 32).find("guid: " + expected), std::string::npos);
    // No frames: the text ends after the sprites line.
    EXPECT_TRUE(core::endsWith(other.unityMeta("x.png", 32), "    sprites:\n"));
}

TEST(SpriteSheetWriters, GodotGolden) {
    Compiler::Atlas atlas;
    atlas.pages.push_back(onePage());
    const std::string expected = R"([gd_resource type="SpriteFrames" load_steps=3 format=3]

[ext_resource type="Texture2D" path="sheet.png" id="1"]

[sub_resource type="AtlasTexture" id="AtlasTexture_0"]
atlas = ExtResource("1")
region = Rect2(5, 6, 10, 12)
margin = Rect2(2, 4, 6, 8)

[resource]
animations = [{
"frames": [{
"duration": 1.0,
"texture": SubResource("AtlasTexture_0")
}],
"loop": true,
"name": &"walk",
"speed": 12.0
}]
)";
    EXPECT_EQ(atlas.godotSpriteFrames({"sheet.png"}, "walk", {"walk_01.png", "missing.png"}, 12), expected);
}

TEST(SpriteSheetWriters, GodotEntriesFollowTheOrderAcrossPages) {
    Compiler::Atlas atlas;
    atlas.pages.push_back(onePage());
    Compiler::AtlasResult second;
    second.sheetWidth = 16;
    second.sheetHeight = 16;
    second.frames.push_back(frame("b.png", {0, 0, 8, 8}, {0, 0, 8, 8}, {8, 8}));
    atlas.pages.push_back(second);
    const std::string text = atlas.godotSpriteFrames({"s-0.png", "s-1.png"}, "run", {"b.png", "walk_01.png", "b.png"}, 7.5);
    EXPECT_NE(text.find("load_steps=6 format=3]"), std::string::npos); // 2 + 3 + 1
    EXPECT_NE(text.find("[sub_resource type=\"AtlasTexture\" id=\"AtlasTexture_0\"]\natlas = ExtResource(\"2\")\n"
                        "region = Rect2(0, 0, 8, 8)\n\n"),
              std::string::npos); // untrimmed: no margin line
    EXPECT_NE(text.find("id=\"AtlasTexture_1\"]\natlas = ExtResource(\"1\")"), std::string::npos);
    EXPECT_NE(text.find("}, {\n\"duration\": 1.0,\n\"texture\": SubResource(\"AtlasTexture_1\")\n}, {"), std::string::npos);
    EXPECT_NE(text.find("\"speed\": 7.5\n}]\n"), std::string::npos);
    EXPECT_EQ(text.find("margin = Rect2(0"), std::string::npos);
}

TEST(SpriteSheetWriters, RelatedPacksOnlyWhenGiven) {
    const auto page = onePage();
    const Json hash = core::parseJson(page.jsonHash("a.png", std::nullopt, {}));
    EXPECT_EQ(hash.size(), 2u); // frames and meta only
    EXPECT_FALSE(hash["meta"].contains("related_multi_packs"));
    const Json related = core::parseJson(page.jsonHash("a.png", std::nullopt, {"b.png", "c.png"}));
    EXPECT_EQ(related["meta"]["related_multi_packs"], Json::array({"b.png", "c.png"}));
    EXPECT_FALSE(core::parseJson(page.jsonArray("a.png", {}))["meta"].contains("related_multi_packs"));
}

TEST(SpriteSheetWriters, LaterFrameOfTheSameNameWins) {
    Compiler::AtlasResult page = onePage();
    page.frames.push_back(frame("walk_01.png", {40, 0, 10, 12}, {2, 4, 10, 12}, {16, 20}, true));
    const Json hash = core::parseJson(page.jsonHash("a.png", std::string("w"), {}));
    EXPECT_EQ(hash["frames"]["walk_01.png"]["frame"]["x"], 40);
    EXPECT_EQ(hash["animations"]["w"].size(), 2u);
    EXPECT_EQ(core::parseJson(page.jsonArray("a.png", {}))["frames"].size(), 2u);
}

struct OffsetCase {
    SpriteRect source;
    image::SpriteSize size;
    std::string offset;
};
class SpriteSheetCocosOffset : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(SpriteSheetCocosOffset, WholeAsIntegerElseOneDecimal) {
    const auto c = GetParam();
    Compiler::AtlasResult page;
    page.sheetWidth = page.sheetHeight = 64;
    page.frames.push_back(frame("f.png", {0, 0, c.source.width, c.source.height}, c.source, c.size));
    testsupport::CommaDecimalLocale comma;
    EXPECT_NE(page.cocosPlist("s.png").find("<string>" + c.offset + "</string>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, SpriteSheetCocosOffset,
                         ::testing::Values(OffsetCase{{2, 4, 10, 12}, {16, 20}, "{-1,0}"}, OffsetCase{{0, 0, 4, 4}, {5, 5}, "{-0.5,0.5}"},
                                           OffsetCase{{3, 0, 5, 2}, {8, 8}, "{1.5,3}"}, OffsetCase{{0, 0, 8, 8}, {8, 8}, "{0,0}"}));

// Odd frame names through every writer and a real parser for each.
TEST(SpriteSheetWriters, OddNamesLoadInRealParsers) {
    const std::vector<std::string> names{
        "walk/01.png", "quote\"name.png", "back\\slash.png", "yes.png",   "01.png",        "a: b.png",
        "#hash.png",   "tab\tname.png",   "new\nline.png",   "bad\xff\xfe.png", "\xc3\xbcmlaut.png", "<tag>&amp.png",
        "- dash.png",  "1.5.png",         "null.png",        "2024-01-02.png", ".png",        "cr\rx.png",
        "ctrl\x01.png", "sep\xe2\x80\xa8.png", "plain name.png", "ends with colon:.png", "~.png", "0x1F.png"};
    Compiler::Atlas atlas;
    Compiler::AtlasResult page;
    page.sheetWidth = 256;
    page.sheetHeight = 256;
    for (std::size_t i = 0; i < names.size(); ++i)
        page.frames.push_back(frame(names[i], {static_cast<int>(i) * 10, 3, 8, 9}, {1, 1, 8, 9}, {10, 11}));
    atlas.pages.push_back(page);

    testsupport::TempDir dir;
    core::writeFileAtomically(dir / "a.json", page.jsonHash("sheet \"x\".png", std::string("anim\xff"), {"p/1.png"}));
    core::writeFileAtomically(dir / "b.json", page.jsonArray("sheet.png", {}));
    core::writeFileAtomically(dir / "c.plist", page.cocosPlist("sheet <&>.png"));
    core::writeFileAtomically(dir / "d.meta", page.unityMeta("sheet.png", 100));
    const std::string tres = atlas.godotSpriteFrames({"she\"et\\.png"}, "an\"im", names, 10);

    std::set<std::string> jsonNames, plistNames;
    std::vector<std::string> unityNames;
    for (const auto& n : names) {
        const std::string clean = core::sanitizeUtf8(n);
        jsonNames.insert(clean);
        std::string xml;
        for (char ch : clean) xml += (ch == '\x01') ? std::string("\xef\xbf\xbd") : std::string(1, ch);
        plistNames.insert(xml);
        const auto dot = clean.rfind('.');
        unityNames.push_back(dot == std::string::npos ? clean : clean.substr(0, dot));
    }

    const Json a = pythonLoad("json", dir / "a.json", dir.path());
    std::set<std::string> got;
    for (const auto& [k, v] : a["frames"].items()) got.insert(k);
    EXPECT_EQ(got, jsonNames);
    EXPECT_EQ(a["meta"]["image"], "sheet \"x\".png");
    EXPECT_EQ(a["meta"]["related_multi_packs"][0], "p/1.png");
    EXPECT_EQ(a["animations"].begin().value().size(), names.size());

    const Json b = pythonLoad("json", dir / "b.json", dir.path());
    ASSERT_EQ(b["frames"].size(), names.size());
    EXPECT_EQ(b["frames"][9]["filename"], core::sanitizeUtf8(names[9]));
    EXPECT_EQ(b["frames"][3]["spriteSourceSize"]["x"], 1);

    const Json c = pythonLoad("plist", dir / "c.plist", dir.path());
    got.clear();
    for (const auto& [k, v] : c["frames"].items()) got.insert(k);
    EXPECT_EQ(got, plistNames);
    EXPECT_EQ(c["metadata"]["textureFileName"], "sheet <&>.png");
    EXPECT_EQ(c["metadata"]["format"], 3);
    EXPECT_EQ(c["frames"]["yes.png"]["spriteOffset"], "{0,0}");

    const Json d = pythonLoad("yaml", dir / "d.meta", dir.path());
    const Json& sprites = d["TextureImporter"]["spriteSheet"]["sprites"];
    ASSERT_EQ(sprites.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(sprites[i]["name"], unityNames[i]) << i;
        EXPECT_EQ(sprites[i]["rect"]["x"], static_cast<int>(i) * 10);
        EXPECT_EQ(sprites[i]["rect"]["y"], 256 - 12);
    }
    EXPECT_EQ(d["fileFormatVersion"], 2);
    // Plain names stay plain.
    const std::string meta = page.unityMeta("sheet.png", 100);
    EXPECT_NE(meta.find("      name: plain name\n"), std::string::npos);
    EXPECT_NE(meta.find("      name: \"yes\"\n"), std::string::npos);
    EXPECT_NE(meta.find("      name: \"01\"\n"), std::string::npos);

    // Godot: every string literal closes on its own line.
    EXPECT_NE(tres.find("path=\"she\\\"et\\\\.png\" id=\"1\"]"), std::string::npos);
    EXPECT_NE(tres.find("\"name\": &\"an\\\"im\","), std::string::npos);
}

// The .tres structure: ids defined before use, load_steps = P + E + 1.
TEST(SpriteSheetWriters, GodotResourceIsWellFormed) {
    Compiler::Atlas atlas;
    for (int p = 0; p < 3; ++p) {
        Compiler::AtlasResult page;
        page.sheetWidth = page.sheetHeight = 128;
        for (int i = 0; i < 5; ++i)
            page.frames.push_back(frame(fmt::format("p{}_{}.png", p, i), {i * 20, 0, 16, 16}, {0, i % 2, 16, 16}, {16, 17}));
        atlas.pages.push_back(page);
    }
    std::vector<std::string> order;
    for (int i = 0; i < 5; ++i)
        for (int p = 2; p >= 0; --p) order.push_back(fmt::format("p{}_{}.png", p, i));
    order.push_back("gone.png");
    const std::string text = atlas.godotSpriteFrames({"a.png", "b.png", "c.png"}, "loop", order, 24);
    const auto lines = core::split(text, '\n');
    std::set<std::string> ext, sub;
    int steps = -1, subs = 0, exts = 0, used = 0;
    for (const auto& line : lines) {
        if (line.rfind("[gd_resource", 0) == 0) {
            const auto at = line.find("load_steps=");
            const auto digits = line.substr(at + 11, line.find(' ', at) - at - 11);
            steps = static_cast<int>(core::parseInt(digits).value_or(-1));
        } else if (line.rfind("[ext_resource", 0) == 0) {
            ext.insert(line.substr(line.find(" id=\"") + 5, line.rfind('"') - line.find(" id=\"") - 5));
            ++exts;
        } else if (line.rfind("[sub_resource", 0) == 0) {
            const auto at = line.find(" id=\"") + 5;
            sub.insert(line.substr(at, line.rfind('"') - at));
            ++subs;
        } else if (line.rfind("atlas = ExtResource(\"", 0) == 0) {
            ASSERT_TRUE(ext.count(line.substr(21, line.size() - 23))) << line;
        } else if (line.rfind("\"texture\": SubResource(\"", 0) == 0) {
            ASSERT_TRUE(sub.count(line.substr(24, line.size() - 26))) << line;
            ++used;
        }
    }
    EXPECT_EQ(exts, 3);
    EXPECT_EQ(subs, 15);
    EXPECT_EQ(used, 15);
    EXPECT_EQ(steps, exts + subs + 1);
    EXPECT_EQ(std::count(text.begin(), text.end(), '['), std::count(text.begin(), text.end(), ']'));
    EXPECT_EQ(std::count(text.begin(), text.end(), '{'), std::count(text.begin(), text.end(), '}'));
}
