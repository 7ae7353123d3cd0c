// The sprite-sheet data files: five thin writers over the compiler's frame
// model (JSON hash, JSON array, Cocos2d plist, Unity importer, Godot
// SpriteFrames). None of them fails or writes a broken file on odd frame
// names: text is made valid UTF-8 and escaped for each format.

#include <array>
#include <cmath>
#include <map>
#include <optional>

#include <fmt/format.h>
#include <openssl/evp.h>

#include "core/IcuRegex.h"
#include "core/Json.h"
#include "core/Numbers.h"
#include "core/Text.h"
#include "image/sprite/PlistWriter.h"
#include "image/sprite/SpriteSheetCompiler.h"

namespace image {

namespace {

using Json = core::Json;
using Frame = SpriteSheetCompiler::Frame;

// ---- JSON ----

Json rect(const SpriteRect& r) { return Json{{"x", r.x}, {"y", r.y}, {"w", r.width}, {"h", r.height}}; }

Json frameEntry(const Frame& f) {
    return Json{{"frame", rect(f.frame)},
                {"rotated", f.rotated},
                {"trimmed", f.trimmed},
                {"spriteSourceSize", rect(f.spriteSourceSize)},
                {"sourceSize", Json{{"w", f.sourceSize.width}, {"h", f.sourceSize.height}}}};
}

Json meta(const SpriteSheetCompiler::AtlasResult& page, std::string_view imageName,
          const std::vector<std::string>& relatedPacks) {
    Json m{{"app", "Ostrand"},
           {"version", "1.0"},
           {"image", core::sanitizeUtf8(imageName)},
           {"format", "RGBA8888"},
           {"size", Json{{"w", page.sheetWidth}, {"h", page.sheetHeight}}},
           {"scale", "1"}};
    if (!relatedPacks.empty()) {
        Json list = Json::array();
        for (const auto& name : relatedPacks) list.push_back(core::sanitizeUtf8(name));
        m["related_multi_packs"] = std::move(list);
    }
    return m;
}

// nlohmann's objects keep their keys sorted; "/" is never escaped.
std::string dump(const Json& document) { return core::dumpJson(document, 2) + "\n"; }

// ---- Cocos ----

// A coordinate: whole values as integers, others with one decimal.
std::string number(double v) {
    if (std::isfinite(v) && v == std::trunc(v))
        if (auto n = core::toInt64(v)) return fmt::format("{}", *n);
    return core::formatFixed(v, 1);
}

// ---- Unity ----

std::string guidFor(std::string_view imageName) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_Digest(imageName.data(), imageName.size(), digest.data(), &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < 16 && i < length; ++i) hex += fmt::format("{:02x}", digest[i]);
    return hex;
}

char32_t nextCodePoint(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1Fu) : extra == 2 ? (b & 0x0Fu) : (b & 0x07u);
    ++i;
    for (; extra > 0 && i < s.size(); --extra, ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3Fu);
    return cp;
}

// Printable in a YAML stream and not a line break (YAML 1.1 character set).
bool plainSafeCharacter(char32_t c) {
    return (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xD7FF && c != 0x2028 && c != 0x2029) ||
           (c >= 0xE000 && c <= 0xFFFD && c != 0xFEFF) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Texts that plain YAML 1.1 would read as something other than a string
// (booleans, null, numbers, dates, merge and value keys).
const std::vector<core::IcuRegex>& nonStringPatterns() {
    static const std::vector<core::IcuRegex> patterns = [] {
        const char* sources[] = {
            R"(^(?:y|Y|yes|Yes|YES|n|N|no|No|NO|true|True|TRUE|false|False|FALSE|on|On|ON|off|Off|OFF)$)",
            R"(^(?:~|null|Null|NULL)$)",
            R"(^(?:[-+]?0b[0-1_]+|[-+]?0[0-7_]+|[-+]?(?:0|[1-9][0-9_]*)|[-+]?0x[0-9a-fA-F_]+|[-+]?[1-9][0-9_]*(?::[0-5]?[0-9])+)$)",
            R"(^(?:[-+]?(?:[0-9][0-9_]*)\.[0-9_]*(?:[eE][-+]?[0-9]+)?|\.[0-9][0-9_]*(?:[eE][-+]?[0-9]+)?|[-+]?[0-9][0-9_]*(?::[0-5]?[0-9])+\.[0-9_]*|[-+]?\.(?:inf|Inf|INF)|\.(?:nan|NaN|NAN))$)",
            R"(^(?:[0-9]{4}-[0-9]{1,2}-[0-9]{1,2}(?:(?:[Tt]|[ \t]+)[0-9]{1,2}:[0-9]{2}:[0-9]{2}(?:\.[0-9]*)?(?:[ \t]*(?:Z|[-+][0-9]{1,2}(?::[0-9]{2})?))?)?)$)",
            R"(^(?:<<|=)$)",
        };
        std::vector<core::IcuRegex> out;
        for (const char* s : sources)
            if (auto r = core::IcuRegex::compile(s)) out.push_back(std::move(*r));
        return out;
    }();
    return patterns;
}

bool needsQuotes(std::string_view s) {
    if (s.empty() || s.front() == ' ' || s.back() == ' ') return true;
    static constexpr std::string_view indicators = ",[]{}#&*!|>'\"%@`";
    if (indicators.find(s.front()) != std::string_view::npos) return true;
    if ((s.front() == '-' || s.front() == '?' || s.front() == ':') && (s.size() == 1 || s[1] == ' ')) return true;
    if (s.back() == ':' || s.find(": ") != std::string_view::npos || s.find(" #") != std::string_view::npos) return true;
    for (std::size_t i = 0; i < s.size();)
        if (!plainSafeCharacter(nextCodePoint(s, i))) return true;
    for (const auto& pattern : nonStringPatterns())
        if (!pattern.findAll(s).empty()) return true;
    return false;
}

// A YAML scalar for `raw`: plain when plain YAML reads it back unchanged,
// else double-quoted with escapes.
std::string yamlScalar(std::string_view raw) {
    const std::string s = core::sanitizeUtf8(raw);
    if (!needsQuotes(s)) return s;
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        const char32_t c = nextCodePoint(s, i);
        switch (c) {
        case U'"': out += "\\\""; break;
        case U'\\': out += "\\\\"; break;
        case U'\t': out += "\\t"; break;
        case U'\n': out += "\\n"; break;
        case U'\r': out += "\\r"; break;
        case 0x85: out += "\\N"; break;
        case 0x2028: out += "\\L"; break;
        case 0x2029: out += "\\P"; break;
        default:
            if (plainSafeCharacter(c))
                out.append(s, start, i - start);
            else if (c <= 0xFF)
                out += fmt::format("\\x{:02X}", static_cast<unsigned>(c));
            else
                out += fmt::format("\\u{:04X}", static_cast<unsigned>(c));
        }
    }
    return out + "\"";
}

std::string withoutExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

// ---- Godot ----

// Inside a Godot string or StringName literal.
std::string godotString(std::string_view raw) {
    const std::string s = core::sanitizeUtf8(raw);
    std::string out;
    for (char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out;
}

std::string godotFloat(double v) {
    if (!std::isfinite(v)) return "0.0";
    std::string text = core::formatShortest(v);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

} // namespace

std::string SpriteSheetCompiler::AtlasResult::jsonHash(std::string_view imageName,
                                                       const std::optional<std::string>& animationName,
                                                       const std::vector<std::string>& relatedPacks) const {
    Json frameMap = Json::object();
    for (const Frame& f : frames) frameMap[core::sanitizeUtf8(f.name)] = frameEntry(f); // a later name wins
    Json document{{"frames", std::move(frameMap)}, {"meta", meta(*this, imageName, relatedPacks)}};
    if (animationName) {
        Json names = Json::array();
        for (const Frame& f : frames) names.push_back(core::sanitizeUtf8(f.name));
        document["animations"] = Json{{core::sanitizeUtf8(*animationName), std::move(names)}};
    }
    return dump(document);
}

std::string SpriteSheetCompiler::AtlasResult::jsonArray(std::string_view imageName,
                                                        const std::vector<std::string>& relatedPacks) const {
    Json list = Json::array();
    for (const Frame& f : frames) {
        Json entry = frameEntry(f);
        entry["filename"] = core::sanitizeUtf8(f.name);
        list.push_back(std::move(entry));
    }
    return dump(Json{{"frames", std::move(list)}, {"meta", meta(*this, imageName, relatedPacks)}});
}

std::string SpriteSheetCompiler::AtlasResult::cocosPlist(std::string_view imageName) const {
    // Keys sorted, as the standard serializer writes them; a later name wins.
    std::map<std::string, const Frame*> byName;
    for (const Frame& f : frames) byName[core::sanitizeUtf8(f.name)] = &f;

    PlistWriter w;
    w.beginDict();
    w.key("frames");
    w.beginDict();
    for (const auto& [name, f] : byName) {
        const SpriteRect& s = f->spriteSourceSize;
        const double ox = (s.x + s.width / 2.0) - f->sourceSize.width / 2.0;
        const double oy = f->sourceSize.height / 2.0 - (s.y + s.height / 2.0);
        w.key(name);
        w.beginDict();
        w.key("aliases");
        w.emptyArray();
        w.key("spriteOffset");
        w.string(fmt::format("{{{},{}}}", number(ox), number(oy)));
        w.key("spriteSize");
        w.string(fmt::format("{{{},{}}}", f->frame.width, f->frame.height));
        w.key("spriteSourceSize");
        w.string(fmt::format("{{{},{}}}", f->sourceSize.width, f->sourceSize.height));
        w.key("textureRect");
        w.string(fmt::format("{{{{{},{}}},{{{},{}}}}}", f->frame.x, f->frame.y, f->frame.width, f->frame.height));
        w.key("textureRotated");
        w.boolean(f->rotated);
        w.endDict();
    }
    w.endDict();
    w.key("metadata");
    w.beginDict();
    w.key("format");
    w.integer(3);
    w.key("pixelFormat");
    w.string("RGBA8888");
    w.key("premultiplyAlpha");
    w.boolean(false);
    w.key("realTextureFileName");
    w.string(imageName);
    w.key("size");
    w.string(fmt::format("{{{},{}}}", sheetWidth, sheetHeight));
    w.key("textureFileName");
    w.string(imageName);
    w.endDict();
    w.endDict();
    return w.finish();
}

std::string SpriteSheetCompiler::AtlasResult::unityMeta(std::string_view imageName, int pixelsPerUnit) const {
    std::string out;
    auto line = [&out](std::string_view text) {
        out += text;
        out += '\n';
    };
    line("fileFormatVersion: 2");
    line("guid: " + guidFor(imageName));
    line("TextureImporter:");
    line("  serializedVersion: 11");
    line("  mipmaps:");
    line("    enableMipMap: 0");
    line("  textureType: 8");
    line("  spriteMode: 2");
    line(fmt::format("  spritePixelsToUnits: {}", pixelsPerUnit));
    line("  alphaIsTransparency: 1");
    line("  filterMode: 1");
    line("  spriteSheet:");
    line("    serializedVersion: 2");
    line("    sprites:");
    for (const Frame& f : frames) {
        const SpriteRect& s = f.spriteSourceSize;
        const double px = (f.sourceSize.width / 2.0 - s.minX()) / std::max(1, f.frame.width);
        const double py = (f.sourceSize.height / 2.0 - (f.sourceSize.height - s.maxY())) / std::max(1, f.frame.height);
        line("    - serializedVersion: 2");
        line("      name: " + yamlScalar(withoutExtension(f.name)));
        line("      rect:");
        line("        serializedVersion: 2");
        line(fmt::format("        x: {}", f.frame.x));
        line(fmt::format("        y: {}", sheetHeight - f.frame.maxY()));
        line(fmt::format("        width: {}", f.frame.width));
        line(fmt::format("        height: {}", f.frame.height));
        line("      alignment: 9");
        line(fmt::format("      pivot: {{x: {}, y: {}}}", core::formatFixed(px, 4), core::formatFixed(py, 4)));
        line("      border: {x: 0, y: 0, z: 0, w: 0}");
    }
    return out;
}

std::string SpriteSheetCompiler::Atlas::godotSpriteFrames(const std::vector<std::string>& imageNames,
                                                          std::string_view animationName,
                                                          const std::vector<std::string>& order, double fps) const {
    std::map<std::string, std::pair<std::size_t, const Frame*>> table;
    for (std::size_t p = 0; p < pages.size(); ++p)
        for (const Frame& f : pages[p].frames) table[f.name] = {p, &f};
    std::vector<std::pair<std::size_t, const Frame*>> entries;
    for (const auto& name : order)
        if (auto it = table.find(name); it != table.end()) entries.push_back(it->second);

    std::string out;
    auto line = [&out](std::string_view text) {
        out += text;
        out += '\n';
    };
    line(fmt::format("[gd_resource type=\"SpriteFrames\" load_steps={} format=3]", imageNames.size() + entries.size() + 1));
    line("");
    for (std::size_t i = 0; i < imageNames.size(); ++i)
        line(fmt::format("[ext_resource type=\"Texture2D\" path=\"{}\" id=\"{}\"]", godotString(imageNames[i]), i + 1));
    line("");
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const auto& [page, f] = entries[k];
        line(fmt::format("[sub_resource type=\"AtlasTexture\" id=\"AtlasTexture_{}\"]", k));
        line(fmt::format("atlas = ExtResource(\"{}\")", page + 1));
        line(fmt::format("region = Rect2({}, {}, {}, {})", f->frame.x, f->frame.y, f->frame.width, f->frame.height));
        if (f->trimmed)
            line(fmt::format("margin = Rect2({}, {}, {}, {})", f->spriteSourceSize.minX(), f->spriteSourceSize.minY(),
                             f->sourceSize.width - f->frame.width, f->sourceSize.height - f->frame.height));
        line("");
    }
    line("[resource]");
    line("animations = [{");
    std::string items;
    for (std::size_t j = 0; j < entries.size(); ++j) {
        if (j > 0) items += ", ";
        items += fmt::format("{{\n\"duration\": 1.0,\n\"texture\": SubResource(\"AtlasTexture_{}\")\n}}", j);
    }
    line("\"frames\": [" + items + "],");
    line("\"loop\": true,");
    line(fmt::format("\"name\": &\"{}\",", godotString(animationName)));
    line("\"speed\": " + godotFloat(fps));
    line("}]");
    return out;
}

} // namespace image
