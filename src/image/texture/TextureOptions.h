#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/EnumTable.h"

namespace image {

// The grayscale channels of a physically based material. The case order is
// the channel order the packer relies on (primary file, output size).
enum class Channel { ambientOcclusion = 0, roughness = 1, smoothness = 2, metallic = 3, height = 4, detailMask = 5 };

int rawValue(Channel c);
std::optional<Channel> channelFromRaw(int raw); // 0 to 5, nothing else
std::vector<Channel> allChannels();
std::string_view displayName(Channel c);
// File-name endings that mark a map of the channel, in matching order.
const std::vector<std::string_view>& suffixes(Channel c);

// What one output channel (R, G, B or A) of a packed texture is made of: a
// constant byte or one material channel.
struct ChannelRecipe {
    enum class Kind { constant, ambientOcclusion, roughness, smoothness, metallic, height, detailMask };
    Kind kind = Kind::constant;
    std::uint8_t value = 0; // for `constant`

    static constexpr ChannelRecipe constant(std::uint8_t v) { return {Kind::constant, v}; }
    static constexpr ChannelRecipe of(Channel c) {
        return {static_cast<Kind>(static_cast<int>(c) + 1), 0};
    }
    // The channel taken, or nothing for a constant.
    std::optional<Channel> channel() const;
    // "Black" (0), "White" (255), another constant in decimal, else the
    // channel's display name.
    std::string text() const;

    constexpr bool operator==(const ChannelRecipe& o) const {
        return kind == o.kind && (kind != Kind::constant || value == o.value);
    }
};

// The target engine's packing layout.
enum class EngineProfile { unrealORM, gltfORM, unityHDRPMaskMap, unityMetallicSmoothness };

inline constexpr core::EnumTable<EngineProfile, 4> kEngineProfiles{{{
    {EngineProfile::unrealORM, "unreal", "Unreal Engine (ORM)"},
    {EngineProfile::gltfORM, "gltf", "glTF / Godot (ORM)"},
    {EngineProfile::unityHDRPMaskMap, "hdrp", "Unity HDRP Mask Map"},
    {EngineProfile::unityMetallicSmoothness, "urp", "Unity URP / Built-in (Metallic)"},
}}};

inline std::string_view rawValue(EngineProfile p) { return kEngineProfiles.rawValue(p); }
inline std::string_view displayName(EngineProfile p) { return kEngineProfiles.displayName(p); }
inline std::optional<EngineProfile> engineProfileFromRaw(std::string_view raw) { return kEngineProfiles.fromRaw(raw); }
inline std::vector<EngineProfile> allEngineProfiles() { return kEngineProfiles.allCases(); }
// The value of the texture preset's {profile} naming token.
std::string_view fileTag(EngineProfile p);
// R, G, B, A in that order.
std::array<ChannelRecipe, 4> layout(EngineProfile p);
// "R: AO · G: Roughness · B: Metallic · A: White"
std::string layoutDescription(EngineProfile p);

// The green-axis convention of normal maps.
enum class NormalConvention { openGL, directX };

inline constexpr core::EnumTable<NormalConvention, 2> kNormalConventions{{{
    {NormalConvention::openGL, "gl", "OpenGL (Y+) \u00B7 Unity, Blender, Godot"},
    {NormalConvention::directX, "dx", "DirectX (Y\u2212) \u00B7 Unreal, 3ds Max"},
}}};

inline std::string_view rawValue(NormalConvention n) { return kNormalConventions.rawValue(n); }
inline std::string_view displayName(NormalConvention n) { return kNormalConventions.displayName(n); }
inline std::optional<NormalConvention> normalConventionFromRaw(std::string_view raw) { return kNormalConventions.fromRaw(raw); }
inline std::vector<NormalConvention> allNormalConventions() { return kNormalConventions.allCases(); }
// "GL" or "DX".
std::string_view tag(NormalConvention n);

// The sprite-sheet data-file format.
enum class DataFormat { jsonHash, jsonArray, cocos, godot, unity };

inline constexpr core::EnumTable<DataFormat, 5> kDataFormats{{{
    {DataFormat::jsonHash, "json", "JSON Hash (Phaser, PixiJS)"},
    {DataFormat::jsonArray, "json-array", "JSON Array (Phaser, generic)"},
    {DataFormat::cocos, "cocos", "Cocos2d (.plist)"},
    {DataFormat::godot, "godot", "Godot 4 SpriteFrames (.tres)"},
    {DataFormat::unity, "unity", "Unity sliced sprite (.png.meta)"},
}}};

inline std::string_view rawValue(DataFormat f) { return kDataFormats.rawValue(f); }
inline std::string_view displayName(DataFormat f) { return kDataFormats.displayName(f); }
inline std::optional<DataFormat> dataFormatFromRaw(std::string_view raw) { return kDataFormats.fromRaw(raw); }
inline std::vector<DataFormat> allDataFormats() { return kDataFormats.allCases(); }
// Ending of the data file written beside a sheet.
std::string_view fileSuffix(DataFormat f);
// Whether the format can describe frames stored rotated on the sheet.
bool supportsRotation(DataFormat f);

// The power-of-two resize rule. No raw value and no display text of its own.
struct ScaleMode {
    enum class Kind { fixedTarget, nearestPowerOfTwo, roundUpPowerOfTwo, roundDownPowerOfTwo };
    Kind kind = Kind::nearestPowerOfTwo;
    std::int64_t size = 0; // for `fixedTarget`

    static constexpr ScaleMode fixedTarget(std::int64_t n) { return {Kind::fixedTarget, n}; }
    static constexpr ScaleMode nearestPowerOfTwo() { return {Kind::nearestPowerOfTwo, 0}; }
    static constexpr ScaleMode roundUpPowerOfTwo() { return {Kind::roundUpPowerOfTwo, 0}; }
    static constexpr ScaleMode roundDownPowerOfTwo() { return {Kind::roundDownPowerOfTwo, 0}; }

    constexpr bool operator==(const ScaleMode& o) const {
        return kind == o.kind && (kind != Kind::fixedTarget || size == o.size);
    }
};

} // namespace image
