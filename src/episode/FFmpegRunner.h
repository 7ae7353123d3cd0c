#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Error.h"

namespace episode {

// Finds the `ffmpeg` program and runs one command line of it to its end.
// Holds only its list of places to look; every lookup looks again, so an
// FFmpeg installed while the application runs is used from the next call on.
class FFmpegRunner {
public:
    class FFmpegError : public core::Error {
    public:
        enum class Kind { executionFailed, binaryNotFound };
        // "FFmpeg failed (exit <code>)" followed by ": <message>" when the
        // message is not empty.
        static FFmpegError executionFailed(std::int32_t exitCode, const std::string& message);
        static FFmpegError binaryNotFound();

        Kind kind() const { return kind_; }
        std::int32_t exitCode() const { return exitCode_; }
        const std::string& message() const { return message_; }

    private:
        FFmpegError(Kind kind, std::int32_t code, std::string message, const std::string& text)
            : core::Error(text), kind_(kind), exitCode_(code), message_(std::move(message)) {}
        Kind kind_;
        std::int32_t exitCode_ = 0;
        std::string message_;
    };

    using LogCallback = std::function<void(const std::string&)>;

    // Searches the default places (see defaultCandidates()).
    FFmpegRunner();
    // Searches exactly these paths, in order (an empty list finds nothing).
    explicit FFmpegRunner(std::vector<std::filesystem::path> candidates);

    // The instance every part of the application uses.
    static const FFmpegRunner& shared();

    // "ffmpeg" beside the running executable, then the system's usual places.
    static std::vector<std::filesystem::path> defaultCandidates();
    // Put in front of every command line.
    static const std::vector<std::string>& leadingArguments();

    const std::vector<std::filesystem::path>& candidates() const { return candidates_; }
    // The first candidate that is a regular, executable file.
    std::optional<std::filesystem::path> locateFFmpegBinary() const;
    bool isFFmpegAvailable() const { return locateFFmpegBinary().has_value(); }

    // Runs FFmpeg with the leading arguments and then `arguments`, collecting
    // its standard output and error in one stream. When that output is not
    // empty and `onLog` is given, it receives the whole output once, after
    // the child has exited. Throws FFmpegError (not found; non-zero exit or
    // killed by a signal) or core::ChildProcessError (cannot be started).
    void execute(const std::vector<std::string>& arguments, const LogCallback& onLog = {}) const;

private:
    std::vector<std::filesystem::path> candidates_;
    bool useDefaults_ = false;
};

} // namespace episode
