#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/EnumTable.h"
#include "core/Json.h"

namespace batch {

// The product edition: picks the update feed and the name shown in alerts.
enum class Edition { velmora, halvane, zentrix, quorvel };

struct EditionInfo {
    Edition value;
    std::string_view slug;         // rawValue
    std::string_view displayName;  // alert name
    std::string_view downloadName; // feed name
};

inline constexpr EditionInfo kEditions[] = {
    {Edition::velmora, "velmora", "Ostrand", "Ostrand"},
    {Edition::halvane, "halvane", "Halvane Pro", "HalvanePro"},
    {Edition::zentrix, "zentrix", "Zentrix Express", "ZentrixExpress"},
    {Edition::quorvel, "quorvel", "Quorvel", "Quorvel"},
};

const EditionInfo& editionInfo(Edition e);
std::optional<Edition> editionFromRaw(std::string_view slug);
std::vector<Edition> allEditions();

// One release as the update feed describes it.
struct UpdateInfo {
    std::string version;
    std::int64_t build = 0;
    std::string url;
    std::optional<std::string> notes;

    // The update server. The feed documents live in its downloads folder.
    static constexpr std::string_view kServerHost = "tembrook.com";
    static constexpr std::string_view kFeedBase = "https://tembrook.com/downloads/";

    static std::string feedURL(Edition edition);
    // "version" (string), "build" (integer), "url" (string) required; "notes"
    // may be absent or null. Throws core::JsonShapeError otherwise.
    static UpdateInfo decode(std::string_view body);

    // Numeric comparison of the versions (digit runs compared as numbers of
    // any length); on equal versions, a larger build is newer.
    bool isNewer(std::string_view thanVersion, std::int64_t build) const;
    // Only https on the update server's host, bare or with "www.".
    bool isTrustedDownload() const;

    bool operator==(const UpdateInfo&) const = default;
};

// -1, 0 or 1. "1.10" > "1.9"; leading zeros do not count ("01" == "1").
int compareVersionsNumerically(std::string_view a, std::string_view b);

} // namespace batch
