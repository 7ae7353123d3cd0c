#include "image/texture/TextureOptions.h"

#include <fmt/format.h>

namespace image {

namespace {

struct ChannelInfo {
    Channel value;
    std::string_view displayName;
    std::vector<std::string_view> suffixes;
};

const std::vector<ChannelInfo>& channelTable() {
    static const std::vector<ChannelInfo> table = {
        {Channel::ambientOcclusion, "AO", {"_AmbientOcclusion", "_Occlusion", "_AO", "_Occ"}},
        {Channel::roughness, "Roughness", {"_Roughness", "_Rough", "_Rgh"}},
        {Channel::smoothness, "Smoothness", {"_Smoothness", "_Glossiness", "_Smooth", "_Gloss"}},
        {Channel::metallic, "Metallic", {"_Metallic", "_Metalness", "_Metal", "_Met"}},
        {Channel::height, "Height", {"_Displacement", "_Height", "_Disp"}},
        {Channel::detailMask, "Detail Mask", {"_DetailMask", "_Detail_Mask"}},
    };
    return table;
}

const ChannelInfo& info(Channel c) {
    for (const auto& i : channelTable())
        if (i.value == c) return i;
    return channelTable().front();
}

struct ProfileInfo {
    EngineProfile value;
    std::string_view fileTag;
    std::array<ChannelRecipe, 4> layout;
};

constexpr ProfileInfo kProfileInfo[] = {
    {EngineProfile::unrealORM, "ORM",
     {ChannelRecipe::of(Channel::ambientOcclusion), ChannelRecipe::of(Channel::roughness),
      ChannelRecipe::of(Channel::metallic), ChannelRecipe::of(Channel::height)}},
    {EngineProfile::gltfORM, "ORM",
     {ChannelRecipe::of(Channel::ambientOcclusion), ChannelRecipe::of(Channel::roughness),
      ChannelRecipe::of(Channel::metallic), ChannelRecipe::constant(255)}},
    {EngineProfile::unityHDRPMaskMap, "MaskMap",
     {ChannelRecipe::of(Channel::metallic), ChannelRecipe::of(Channel::ambientOcclusion),
      ChannelRecipe::of(Channel::detailMask), ChannelRecipe::of(Channel::smoothness)}},
    {EngineProfile::unityMetallicSmoothness, "MetallicSmoothness",
     {ChannelRecipe::of(Channel::metallic), ChannelRecipe::of(Channel::metallic),
      ChannelRecipe::of(Channel::metallic), ChannelRecipe::of(Channel::smoothness)}},
};

const ProfileInfo& info(EngineProfile p) {
    for (const auto& i : kProfileInfo)
        if (i.value == p) return i;
    return kProfileInfo[0];
}

struct FormatInfo {
    DataFormat value;
    std::string_view fileSuffix;
    bool supportsRotation;
};

constexpr FormatInfo kFormatInfo[] = {
    {DataFormat::jsonHash, ".json", true}, {DataFormat::jsonArray, ".json", true},
    {DataFormat::cocos, ".plist", true},   {DataFormat::godot, ".tres", false},
    {DataFormat::unity, ".png.meta", false},
};

const FormatInfo& info(DataFormat f) {
    for (const auto& i : kFormatInfo)
        if (i.value == f) return i;
    return kFormatInfo[0];
}

} // namespace

int rawValue(Channel c) { return static_cast<int>(c); }

std::optional<Channel> channelFromRaw(int raw) {
    for (const auto& i : channelTable())
        if (static_cast<int>(i.value) == raw) return i.value;
    return std::nullopt;
}

std::vector<Channel> allChannels() {
    std::vector<Channel> out;
    for (const auto& i : channelTable()) out.push_back(i.value);
    return out;
}

std::string_view displayName(Channel c) { return info(c).displayName; }
const std::vector<std::string_view>& suffixes(Channel c) { return info(c).suffixes; }

std::optional<Channel> ChannelRecipe::channel() const {
    if (kind == Kind::constant) return std::nullopt;
    return channelFromRaw(static_cast<int>(kind) - 1);
}

std::string ChannelRecipe::text() const {
    if (auto c = channel()) return std::string(displayName(*c));
    if (value == 0) return "Black";
    if (value == 255) return "White";
    return fmt::format("{}", static_cast<unsigned>(value));
}

std::string_view fileTag(EngineProfile p) { return info(p).fileTag; }
std::array<ChannelRecipe, 4> layout(EngineProfile p) { return info(p).layout; }

std::string layoutDescription(EngineProfile p) {
    static constexpr std::string_view labels[] = {"R", "G", "B", "A"};
    const auto recipes = layout(p);
    std::string out;
    for (std::size_t i = 0; i < recipes.size(); ++i) {
        if (i > 0) out += " \u00B7 ";
        out += labels[i];
        out += ": ";
        out += recipes[i].text();
    }
    return out;
}

std::string_view tag(NormalConvention n) { return n == NormalConvention::openGL ? "GL" : "DX"; }

std::string_view fileSuffix(DataFormat f) { return info(f).fileSuffix; }
bool supportsRotation(DataFormat f) { return info(f).supportsRotation; }

} // namespace image
