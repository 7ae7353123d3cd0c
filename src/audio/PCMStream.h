#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "core/Error.h"

namespace audio {

// Decodes the first audio stream of a local media file (wav, aif/aiff, mp3,
// m4a, flac, caf, mov, mp4, ...) into interleaved 32-bit float frames,
// optionally resampled, remixed to one or two channels and cut to a maximum
// duration, and hands them to the caller chunk by chunk. Nothing is kept
// between calls; every call opens and closes its own decoder.
class PCMStream {
public:
    PCMStream() = delete;

    struct Format {
        double sampleRate = 44100;    // frames per second
        int channels = 2;             // 1 or 2
        double durationSeconds = 0;   // the whole source, never shortened by maxDuration
        bool operator==(const Format&) const = default;
    };

    // What went wrong while opening or decoding a file. what() is the
    // user-facing text.
    class StreamError : public core::Error {
    public:
        enum class Kind { noAudioTrack, readFailed, noDecodableAudio, notRegularFile };
        // "<file name> has no audio track."
        static StreamError noAudioTrack(const std::filesystem::path& file);
        // "<file name> holds no audio that can be decoded (<plain reason>)":
        // a file that is not audio at all, or whose audio stream decodes to
        // nothing. The reason is said in a user's words, picked from what
        // libav said (`libavSaid`, possibly empty), which is kept for the log.
        static StreamError noDecodableAudio(const std::filesystem::path& file, const std::string& libavSaid);
        // "Could not read audio from <file name>: <reason>"
        static StreamError readFailed(const std::filesystem::path& file, const std::string& reason);
        // "<file name> is not a regular file" (a FIFO, a device, a folder).
        static StreamError notRegularFile(const std::filesystem::path& file);
        Kind kind() const { return kind_; }
        // libav's own words about the failure, for a log line only: "<file
        // name>: libav says \"moov atom not found\"". Empty when it said nothing.
        const std::string& libavLine() const { return libavLine_; }
        // What the text says of the file after its name ("is not a regular
        // file", "has no audio track.", "could not be read: the file is
        // empty"), for a caller that names the file in words of its own.
        const std::string& saidOfFile() const { return saidOfFile_; }

    private:
        StreamError(Kind kind, const std::string& text, std::string saidOfFile, std::string libavLine = {})
            : core::Error(text), kind_(kind), saidOfFile_(std::move(saidOfFile)), libavLine_(std::move(libavLine)) {}
        Kind kind_;
        std::string saidOfFile_;
        std::string libavLine_;
    };

    // Called once per decoded chunk with `frames` interleaved frames
    // (samples.size() == frames × channels). The buffer is valid only during
    // the call. Chunks have no fixed size. An exception thrown here stops the
    // read and is passed on.
    using Chunk = std::function<void(std::span<const float> samples, std::size_t frames)>;

    // The first audio stream's rate and channel count (at most 2: more than
    // two channels are described as 2) and the file's duration. Like read(),
    // it opens the file without blocking and fails with notRegularFile for
    // a FIFO, a device or a folder. Throws StreamError.
    static Format format(const std::filesystem::path& file);

    // Reads the whole first audio stream (or its first maxDuration seconds,
    // trimmed to the frame) at `sampleRate` (default: the source's) with
    // `channels` channels (1 or 2; default: the source's, see format()).
    // Frame counts are exact: N seconds at the output rate give
    // round(N × rate) frames. Non-finite decoded samples are delivered as 0.
    // Stereo to mono is the mean of the channels; mono to stereo copies the
    // channel to both sides. Returns the delivered rate and channel count
    // with the whole source's duration. A stream that ends well before the
    // container's stated length is read to its end and said once through
    // ReadWarnings. Throws StreamError, and core::Stopped between two
    // packets once a stop is requested (core/StopSignal.h).
    static Format read(const std::filesystem::path& file, std::optional<double> sampleRate,
                       std::optional<int> channels, std::optional<double> maxDuration,
                       const Chunk& chunk);
};

} // namespace audio
