// The game-texture option table. No key depends on another; the entries are
// applied in ascending key order so that a strict error is always the same.

#include "presets/SettingsTable.h"

namespace presets {

namespace settings {

namespace {

using C = PresetSettingsCodec;
using P = ZentrixPreset;

std::string modeWord(OperationalMode m) {
    switch (m) {
    case OperationalMode::channelPackingORM: return "channel";
    case OperationalMode::normalMapConvert: return "normal";
    case OperationalMode::normalFromHeight: return "height";
    case OperationalMode::powerOfTwoEnforce: return "pot";
    case OperationalMode::spriteSheetAtlas: return "sprite";
    case OperationalMode::tilingCheck: break;
    }
    return "tiling";
}

std::string scaleModeWord(const image::ScaleMode& m) {
    switch (m.kind) {
    case image::ScaleMode::Kind::fixedTarget: return C::wholeText(m.size);
    case image::ScaleMode::Kind::roundUpPowerOfTwo: return "up";
    case image::ScaleMode::Kind::roundDownPowerOfTwo: return "down";
    case image::ScaleMode::Kind::nearestPowerOfTwo: break;
    }
    return "nearest";
}

template <typename T>
T required(const std::optional<T>& v, const std::string& key, const std::string& value, const char* expected) {
    if (!v) throw CodecError::invalidValue(key, value, expected);
    return *v;
}

} // namespace

const OptionTable<ZentrixPreset>& zentrixTable() {
    static const OptionTable<P> table = {
        {"mode", "channel | normal | height | pot | sprite | tiling",
         [](const P& p) { return modeWord(p.operationalMode); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.operationalMode = required(C::mode(v), k, v, "channel, normal, height, pot, sprite or tiling");
         }},
        {"profile", "Channel layout: unreal | gltf | hdrp | urp",
         [](const P& p) { return std::string(image::rawValue(p.engineProfile)); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.engineProfile = lowered(k, v, [](const std::string& t) { return image::engineProfileFromRaw(t); },
                                       "unreal, gltf, hdrp or urp");
         }},
        {"normal", "Normal map target: gl (OpenGL: Unity, Blender, Godot) | dx (DirectX: Unreal)",
         [](const P& p) { return std::string(image::rawValue(p.normalTarget)); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.normalTarget = lowered(
                 k, v, [](const std::string& t) { return image::normalConventionFromRaw(t); }, "gl or dx");
         }},
        {"pot", "Enforce power-of-two sizes (true/false)", [](const P& p) { return C::boolText(p.enforcePOT); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) { p.enforcePOT = C::boolValue(k, v); }},
        {"potMode", "nearest | up | down | a fixed size like 2048",
         [](const P& p) { return scaleModeWord(p.potScaleMode); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.potScaleMode = required(C::scaleMode(v), k, v, "nearest, up, down or a power of two");
         }},
        {"square", "Force square textures (true/false)", [](const P& p) { return C::boolText(p.forceSquare); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) { p.forceSquare = C::boolValue(k, v); }},
        {"maxSize", "Longest side limit in pixels, 0 for none (e.g. 2048 for mobile)",
         [](const P& p) { return C::wholeText(p.maxTextureSize); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.maxTextureSize = C::intValue(k, v, 0, 16384);
         }},
        {"mipmaps", "Export a mipmap chain (true/false)", [](const P& p) { return C::boolText(p.generateMipmaps); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.generateMipmaps = C::boolValue(k, v);
         }},
        {"trim", "Sprite sheets: trim transparent edges (true/false)",
         [](const P& p) { return C::boolText(p.spriteTrim); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) { p.spriteTrim = C::boolValue(k, v); }},
        {"padding", "Sprite sheets: pixels between frames, 0-16",
         [](const P& p) { return C::wholeText(p.spritePadding); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.spritePadding = C::intValue(k, v, 0, 16);
         }},
        {"extrude", "Sprite sheets: repeat edge pixels to stop bleeding, 0-8",
         [](const P& p) { return C::wholeText(p.spriteExtrude); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.spriteExtrude = C::intValue(k, v, 0, 8);
         }},
        {"halfScale", "Sprite sheets: also write an @1x half-size sheet (true/false)",
         [](const P& p) { return C::boolText(p.spriteHalfScale); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.spriteHalfScale = C::boolValue(k, v);
         }},
        {"format", "Sprite sheets: data file json | json-array | cocos | godot | unity",
         [](const P& p) { return std::string(image::rawValue(p.spriteFormat)); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.spriteFormat = lowered(k, v, [](const std::string& t) { return image::dataFormatFromRaw(t); },
                                      "json, json-array, cocos, godot or unity");
         }},
        {"rotate", "Sprite sheets: rotate frames to pack tighter (json and cocos formats; true/false)",
         [](const P& p) { return C::boolText(p.spriteRotate); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) { p.spriteRotate = C::boolValue(k, v); }},
        {"strength", "Normal from height: relief strength 0.5-10",
         [](const P& p) { return C::decimalText(p.normalStrength); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.normalStrength = C::doubleValue(k, v, 0.5, 10.0);
         }},
        {"makeNormal", "Channel packing: make a normal map from the height map when none exists (true/false)",
         [](const P& p) { return C::boolText(p.generateMissingNormal); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.generateMissingNormal = C::boolValue(k, v);
         }},
    };
    return table;
}

} // namespace settings

void PresetSettingsCodec::apply(const SettingsMap& values, ZentrixPreset& preset, bool strict) {
    // "columns" is accepted with any value and changes nothing.
    settings::applyEntries(settings::zentrixTable(), preset, settings::ordered(values, ""), values, strict,
                           {"columns"});
}

} // namespace presets
