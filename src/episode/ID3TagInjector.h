#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Error.h"
#include "episode/CoverArt.h"
#include "episode/FFmpegRunner.h"
#include "episode/PodcastMetadata.h"

namespace episode {

// Writes the RSS file's tags. With FFmpeg available the already encoded MP3
// is remuxed with ID3v2.3 tags, the cover as an attached picture and the
// chapters of an FFmpeg metadata file; without it the audio is encoded as
// AAC in an .m4a file with iTunes-style tags and the cover (no chapters).
// Holds no state besides the runner it asks.
class ID3TagInjector {
public:
    using PodcastMetadata = episode::PodcastMetadata;

    class TagError : public core::Error {
    public:
        enum class Kind { exportSessionUnavailable, taggingFailed };
        static TagError exportSessionUnavailable();
        // "Failed to inject metadata tags into audio container."
        static TagError taggingFailed();
        Kind kind() const { return kind_; }

    private:
        TagError(Kind kind, const std::string& text) : core::Error(text), kind_(kind) {}
        Kind kind_;
    };

    explicit ID3TagInjector(FFmpegRunner runner = FFmpegRunner());

    // The FFmpeg path when the runner finds FFmpeg, else the M4A path (which
    // does not use the chapters file). The cover is metadata.artworkURL made
    // taggable by CoverArt::forTag, left out when it can't be used. The
    // destination is written under a temporary name beside it and renamed
    // into place when complete.
    void inject(const PodcastMetadata& metadata, const std::filesystem::path& sourceURL,
                const std::filesystem::path& destinationURL,
                const std::optional<std::filesystem::path>& chaptersFile) const;

    // The same with the cover already made for the tags (CoverArt::prepare,
    // which an episode reads its cover with once for all it makes); none:
    // no cover. metadata.artworkURL is not read.
    void inject(const PodcastMetadata& metadata, const std::filesystem::path& sourceURL,
                const std::filesystem::path& destinationURL,
                const std::optional<std::filesystem::path>& chaptersFile, const CoverArt::Picture* cover) const;

    // Copies the MP3 audio of `sourceURL` with the tags and `cover` (made
    // for the tags, as above; none: no cover); runner errors pass through.
    void injectWithFFmpeg(const PodcastMetadata& metadata, const std::filesystem::path& sourceURL,
                          const std::filesystem::path& destinationURL,
                          const std::optional<std::filesystem::path>& chaptersFile,
                          const CoverArt::Picture* cover) const;

    // Encodes any audio file libav reads as AAC in an .m4a (the "ipod" muxer)
    // with the tags and `cover`. Throws TagError.
    void injectWithLibav(const PodcastMetadata& metadata, const std::filesystem::path& sourceURL,
                         const std::filesystem::path& destinationURL, const CoverArt::Picture* cover) const;

    // The FFmpeg arguments (after the runner's leading ones) that tag
    // `sourceURL` into `outputPath`.
    static std::vector<std::string> ffmpegArguments(const PodcastMetadata& metadata,
                                                    const std::filesystem::path& sourceURL,
                                                    const std::filesystem::path& outputPath,
                                                    const std::optional<std::filesystem::path>& chaptersFile);

    const FFmpegRunner& runner() const { return runner_; }

private:
    FFmpegRunner runner_;
};

} // namespace episode
