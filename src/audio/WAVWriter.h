#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

#include "core/Error.h"

namespace audio {

// Writes interleaved float frames as an integer linear-PCM RIFF/WAVE file
// (16 or 24 bit); a file past 4 GiB is finished as RF64 (EBU Tech 3306). Samples are scaled by 2^(bits-1), rounded, clamped to the
// integer range; NaN is written as 0. The file is written under a temporary
// name beside the final one and renamed into place by close(): nothing
// half-written ever appears under the final name. A writer destroyed without
// close() finishes the file the same way, unless it is destroyed while an
// exception is unwinding, in which case the temporary file is discarded.
class WAVWriter {
public:
    // A failed write, header patch or rename. what() is the user-facing text.
    class WriteError : public core::Error {
    public:
        using core::Error::Error;
        static WriteError cannotWrite(const std::filesystem::path& file, const std::string& reason);
        static WriteError badFormat(const std::filesystem::path& file, const std::string& reason);
    };

    // The largest RIFF size field a file is finished with as plain RIFF.
    static constexpr std::uint64_t kRiffSizeLimit = 0xFFFFFFFFull;

    // bitDepth 16 or 24; channels 1…8; sampleRate a positive whole-number
    // rate. Replaces an existing file at `file` when closed (never a folder).
    // A file whose RIFF size would exceed `riffSizeLimit` (at most, and by
    // default, kRiffSizeLimit) is finished as RF64; tests pass a small one.
    // Throws WriteError.
    WAVWriter(const std::filesystem::path& file, double sampleRate, int channels, int bitDepth,
              std::uint64_t riffSizeLimit = kRiffSizeLimit);
    ~WAVWriter();
    WAVWriter(const WAVWriter&) = delete;
    WAVWriter& operator=(const WAVWriter&) = delete;

    // Appends `frames` interleaved frames (samples.size() >= frames × channels).
    // 0 frames, or any call after close(), writes nothing. Throws WriteError.
    void write(std::span<const float> samples, std::size_t frames);
    void write(const float* samples, std::size_t frames) {
        write(std::span<const float>(samples, frames * static_cast<std::size_t>(channels_)), frames);
    }

    // Patches the header sizes, flushes and renames the file into place.
    // Throws WriteError; then nothing is left under the final name. A second
    // call does nothing.
    void close();

    bool isOpen() const;
    int channels() const { return channels_; }
    std::uint64_t framesWritten() const { return framesWritten_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int channels_ = 0;
    int bitDepth_ = 0;
    std::uint64_t framesWritten_ = 0;
};

} // namespace audio
