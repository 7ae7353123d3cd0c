#include "image/texture/ChannelPacker.h"

#include <algorithm>
#include <future>
#include <string_view>
#include <system_error>

#include "core/Files.h"
#include "core/Text.h"
#include "image/texture/TextureLoaders.h"

namespace image {

namespace fs = std::filesystem;

namespace {

// ---- Recognition by name -------------------------------------------------

template <typename Value> struct Ending {
    std::string_view text;
    Value value;
};

// Endings sorted longest first, declared order kept among equal lengths.
template <typename Value> std::vector<Ending<Value>> longestFirst(std::vector<Ending<Value>> endings) {
    std::stable_sort(endings.begin(), endings.end(),
                     [](const auto& a, const auto& b) { return a.text.size() > b.text.size(); });
    return endings;
}

const std::vector<Ending<Channel>>& channelEndings() {
    static const auto endings = [] {
        std::vector<Ending<Channel>> all;
        for (Channel c : allChannels())
            for (std::string_view s : suffixes(c)) all.push_back({s, c});
        return longestFirst(std::move(all));
    }();
    return endings;
}

constexpr std::string_view kNormalSuffixes[] = {"_NormalOpenGL", "_NormalDirectX", "_NormalGL", "_NormalDX", "_Normal_GL",
                                                "_Normal_DX",    "_Normal",        "_Nrm",      "_Norm",     "_N"};

const std::vector<Ending<int>>& normalEndings() {
    static const auto endings = [] {
        std::vector<Ending<int>> all;
        for (std::string_view s : kNormalSuffixes) all.push_back({s, 0});
        return longestFirst(std::move(all));
    }();
    return endings;
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool endsWithIgnoringCase(std::string_view text, std::string_view ending) {
    if (ending.size() > text.size()) return false;
    const auto tail = text.substr(text.size() - ending.size());
    return std::equal(tail.begin(), tail.end(), ending.begin(),
                      [](char a, char b) { return asciiLower(a) == asciiLower(b); });
}

// The file name with its last extension taken off: a.b.png gives a.b.
std::string baseName(const fs::path& url) { return url.filename().stem().string(); }

// The first ending (longest first) that the name ends with and that leaves a
// non-empty stem; the stem keeps the file's own case.
template <typename Value>
std::optional<std::pair<std::string, const Ending<Value>*>> matchEnding(const fs::path& url,
                                                                        const std::vector<Ending<Value>>& endings) {
    const std::string name = baseName(url);
    for (const auto& ending : endings) {
        if (ending.text.size() >= name.size()) continue; // no ending, or an empty stem
        if (endsWithIgnoringCase(name, ending.text))
            return std::make_pair(name.substr(0, name.size() - ending.text.size()), &ending);
    }
    return std::nullopt;
}

std::string lowerExtension(const fs::path& url) {
    std::string ext = url.extension().string();
    if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
    for (char& c : ext) c = asciiLower(c);
    return ext;
}

// The folder's entries, hidden files and sub-folders left out; nothing when
// the folder can't be listed.
std::optional<std::vector<fs::path>> listFolder(const fs::path& file) {
    const fs::path folder = file.parent_path();
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
    if (ec) return std::nullopt;
    std::vector<fs::path> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return std::nullopt;
        const std::string name = it->path().filename().string();
        if (name.empty() || name.front() == '.') continue;
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        entries.push_back(folder / name);
    }
    if (ec) return std::nullopt;
    return entries;
}

// ---- Packing -------------------------------------------------------------

using Plane = std::vector<std::uint8_t>;

// The map whose plane a channel slot reads: its own, or for roughness and
// smoothness the partner's (used inverted). Nothing: the slot's default.
std::optional<Channel> sourceChannel(const ChannelPacker::ChannelSources& sources, Channel c) {
    if (sources.maps.count(c)) return c;
    if (c == Channel::roughness && sources.maps.count(Channel::smoothness)) return Channel::smoothness;
    if (c == Channel::smoothness && sources.maps.count(Channel::roughness)) return Channel::roughness;
    return std::nullopt;
}

std::uint8_t defaultByte(Channel c) {
    switch (c) {
    case Channel::metallic:
        return 0;
    case Channel::smoothness:
        return 128;
    case Channel::ambientOcclusion:
    case Channel::roughness:
    case Channel::height:
    case Channel::detailMask:
        break;
    }
    return 255;
}

Plane inverted(const Plane& plane) {
    Plane out(plane.size());
    std::transform(plane.begin(), plane.end(), out.begin(), [](std::uint8_t v) { return std::uint8_t(255 - v); });
    return out;
}

} // namespace

// ---- ChannelSources --------------------------------------------------------

std::vector<fs::path> ChannelPacker::ChannelSources::all() const {
    std::vector<fs::path> out;
    for (Channel c : allChannels()) {
        auto it = maps.find(c);
        if (it != maps.end()) out.push_back(it->second);
    }
    return out;
}

std::optional<fs::path> ChannelPacker::ChannelSources::primaryURL() const {
    auto list = all();
    if (list.empty()) return std::nullopt;
    return list.front();
}

std::vector<std::string> ChannelPacker::ChannelSources::missingInputs(EngineProfile profile) const {
    std::vector<std::string> out;
    for (const ChannelRecipe& recipe : layout(profile)) {
        const auto channel = recipe.channel();
        if (!channel) continue;
        bool missing = !maps.count(*channel);
        if (*channel == Channel::roughness || *channel == Channel::smoothness)
            missing = !maps.count(Channel::roughness) && !maps.count(Channel::smoothness);
        if (!missing) continue;
        std::string name(displayName(*channel));
        if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(std::move(name));
    }
    return out;
}

// ---- Recognition -----------------------------------------------------------

const std::unordered_set<std::string>& ChannelPacker::imageExtensions() {
    static const std::unordered_set<std::string> extensions{"png", "tga", "tif",  "tiff", "jpg",
                                                            "jpeg", "exr", "bmp", "psd"};
    return extensions;
}

std::optional<ChannelPacker::ChannelMatch> ChannelPacker::identify(const fs::path& url) const {
    auto match = matchEnding(url, channelEndings());
    if (!match) return std::nullopt;
    return ChannelMatch{std::move(match->first), match->second->value};
}

std::optional<ChannelPacker::NormalMatch> ChannelPacker::identifyNormal(const fs::path& url) const {
    auto match = matchEnding(url, normalEndings());
    if (!match) return std::nullopt;
    std::string ending(match->second->text);
    for (char& c : ending) c = asciiLower(c);
    std::optional<NormalConvention> convention;
    if (core::endsWith(ending, "gl") || core::endsWith(ending, "opengl"))
        convention = NormalConvention::openGL;
    else if (core::endsWith(ending, "dx") || core::endsWith(ending, "directx"))
        convention = NormalConvention::directX;
    return NormalMatch{std::move(match->first), convention};
}

std::optional<ChannelPacker::ChannelSources> ChannelPacker::discoverChannels(const fs::path& url) const {
    const auto asked = identify(url);
    if (!asked) return std::nullopt;
    std::vector<fs::path> candidates = listFolder(url).value_or(std::vector<fs::path>{url});
    std::sort(candidates.begin(), candidates.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });

    const std::string stem = core::toLower(asked->stem);
    const fs::path self = core::standardized(url);
    ChannelSources sources;
    for (const fs::path& candidate : candidates) {
        if (!imageExtensions().count(lowerExtension(candidate))) continue;
        const auto match = identify(candidate);
        if (!match || core::toLower(match->stem) != stem) continue;
        if (!sources.maps.count(match->channel) || core::standardized(candidate) == self)
            sources.maps[match->channel] = candidate;
    }
    return sources;
}

// ---- Packing ---------------------------------------------------------------

PixelSize ChannelPacker::sourceSize(const ChannelSources& sources) const {
    const auto primary = sources.primaryURL();
    if (!primary) throw PackingError::noSourceImagesFound();
    try {
        return pixelSizeOrFail(*primary);
    } catch (const PackingError& unreadable) {
        throw PackingError::noSourceImagesFound(unreadable);
    }
}

PackedTexture ChannelPacker::pack(const ChannelSources& sources, EngineProfile profile, int width,
                                  int height) const {
    if (sources.maps.empty()) throw PackingError::noSourceImagesFound();
    width = std::max(width, 0);
    height = std::max(height, 0);
    const auto n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const auto recipes = layout(profile);

    // The maps this layout reads, in the order they are first needed. They
    // are decoded side by side; a failure is reported for the first one in
    // that order, as a slot-by-slot packing would meet it.
    std::vector<Channel> needed;
    for (const ChannelRecipe& recipe : recipes) {
        const auto channel = recipe.channel();
        if (!channel) continue;
        const auto source = sourceChannel(sources, *channel);
        if (source && std::find(needed.begin(), needed.end(), *source) == needed.end()) needed.push_back(*source);
    }
    std::vector<std::future<std::optional<Plane>>> loads;
    for (Channel c : needed) {
        const fs::path url = sources.maps.at(c);
        loads.push_back(std::async(std::launch::async, [url, width, height] {
            return loadGrayscale(url, width, height);
        }));
    }
    std::map<Channel, Plane> cache; // private to this call
    for (std::size_t i = 0; i < needed.size(); ++i) {
        auto plane = loads[i].get();
        if (!plane || plane->size() != n) {
            for (std::size_t j = i + 1; j < loads.size(); ++j) loads[j].wait();
            throw PackingError::cannotRead(sources.maps.at(needed[i]));
        }
        cache[needed[i]] = std::move(*plane);
    }

    // channelData: one plane per slot. Constants and defaults are filled in
    // the interleave below rather than stored.
    struct Slot {
        const Plane* plane = nullptr;
        Plane owned; // an inverted partner
        std::uint8_t fill = 0;
    };
    std::array<Slot, 4> slots;
    for (std::size_t s = 0; s < 4; ++s) {
        const auto channel = recipes[s].channel();
        if (!channel) {
            slots[s].fill = recipes[s].value;
            continue;
        }
        const auto source = sourceChannel(sources, *channel);
        if (!source) {
            slots[s].fill = defaultByte(*channel);
        } else if (*source == *channel) {
            slots[s].plane = &cache.at(*channel);
        } else {
            slots[s].owned = inverted(cache.at(*source));
            slots[s].plane = &slots[s].owned;
        }
    }

    PackedTexture out;
    out.width = width;
    out.height = height;
    out.rgba.resize(n * 4);
    if (n == 0) return out;
    auto interleave = [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const std::size_t begin = static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
            std::uint8_t* dst = out.rgba.data() + begin * 4;
            for (std::size_t s = 0; s < 4; ++s) {
                const Plane* plane = slots[s].plane;
                if (plane) {
                    const std::uint8_t* src = plane->data() + begin;
                    for (int x = 0; x < width; ++x) dst[static_cast<std::size_t>(x) * 4 + s] = src[x];
                } else {
                    const std::uint8_t v = slots[s].fill;
                    for (int x = 0; x < width; ++x) dst[static_cast<std::size_t>(x) * 4 + s] = v;
                }
            }
        }
    };
    if (textures::isLargePass(static_cast<std::int64_t>(n)))
        cv::parallel_for_(cv::Range(0, height), interleave);
    else
        interleave(cv::Range(0, height));
    return out;
}

PackedTexture ChannelPacker::flipNormalGreen(const fs::path& url, int maxSize) const {
    const auto decoded = textures::decodeTexture(url);
    if (!decoded) throw PackingError::cannotRead(url);
    int w = decoded->cols;
    int h = decoded->rows;
    const int longer = std::max(w, h);
    if (maxSize > 0 && longer > maxSize) {
        const double f = static_cast<double>(maxSize) / longer;
        w = textures::roundedSide(w * f);
        h = textures::roundedSide(f * h);
    }
    const cv::Mat rgba = textures::rgba8At(*decoded, w, h);
    if (rgba.empty()) throw PackingError::cannotRead(url);

    PackedTexture out;
    out.width = w;
    out.height = h;
    out.rgba.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    auto flip = [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const std::uint8_t* src = rgba.ptr<std::uint8_t>(y);
            std::uint8_t* dst = out.rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 4;
            for (int x = 0; x < w * 4; x += 4) {
                dst[x] = src[x];
                dst[x + 1] = static_cast<std::uint8_t>(255 - src[x + 1]);
                dst[x + 2] = src[x + 2];
                dst[x + 3] = src[x + 3]; // the map's own alpha; 255 when it has none
            }
        }
    };
    if (textures::isLargePass(std::int64_t{w} * h))
        cv::parallel_for_(cv::Range(0, h), flip);
    else
        flip(cv::Range(0, h));
    return out;
}

} // namespace image
