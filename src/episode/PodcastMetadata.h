#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace episode {

// The tags written into the RSS file. seasonNumber is carried but written by
// neither tag path.
struct PodcastMetadata {
    std::string title;
    std::string artist;
    std::string podcastName;
    std::optional<int> episodeNumber;
    std::optional<int> seasonNumber;
    std::string showNotes;                       // the comment tag
    std::optional<int> releaseYear;
    std::optional<std::filesystem::path> artworkURL; // embedded as cover art

    bool operator==(const PodcastMetadata&) const = default;
};

} // namespace episode
