#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/ChildProcess.h"
#include "core/Files.h"

namespace testsupport {

namespace fs = std::filesystem;

// Whether this build runs under AddressSanitizer or ThreadSanitizer (GCC's
// macros, Clang's feature tests). Their allocators say nothing about our
// code's memory: ASan keeps freed blocks in quarantine, TSan maps shadow
// memory beside every page touched, so peak-memory budgets are checked only
// without them; stress tests run fewer rounds under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr bool kUnderSanitizer = false;
#endif
#else
inline constexpr bool kUnderSanitizer = false;
#endif

// A fresh temporary folder per test, removed afterwards.
class TempDir {
public:
    TempDir() : folder_(std::make_unique<core::WorkFolder>("quorvel-test")) {}
    const fs::path& path() const { return folder_->path(); }
    fs::path operator/(const std::string& name) const { return path() / name; }

private:
    std::unique_ptr<core::WorkFolder> folder_;
};

// Runs a tool found in PATH (ffmpeg, ffprobe, sox, espeak-ng, ...). Fails the
// current test with the tool's output when it does not exit with 0.
core::ChildResult runTool(const std::vector<std::string>& argv);
// Like runTool but returns the result without judging it.
core::ChildResult tryTool(const std::vector<std::string>& argv);

// Generates audio with ffmpeg from a lavfi source expression, e.g.
// makeAudio(dir/"a.wav", "sine=frequency=1000:sample_rate=48000:duration=2").
void makeAudio(const fs::path& out, const std::string& lavfi, const std::vector<std::string>& extra = {});

// Replaces the XMP of each picture file by the packet given, kept as
// written (its namespace prefixes too), in one exiftool run.
void putXmpPackets(const std::vector<std::pair<fs::path, std::string>>& packets);
// The XMP packet a file holds (from <x:xmpmeta to its end tag), as text;
// empty when there is none.
std::string xmpPacketOf(const fs::path& file);

// Points TMPDIR at `dir` for the lifetime of the object (work folders and
// what a start-up sweep looks at land there), then puts it back.
class ScopedTmpDir {
public:
    explicit ScopedTmpDir(const fs::path& dir);
    ~ScopedTmpDir();
    ScopedTmpDir(const ScopedTmpDir&) = delete;
    ScopedTmpDir& operator=(const ScopedTmpDir&) = delete;

private:
    std::optional<std::string> previous_;
};

// Lowers the process-wide stop when the test ends, however it ends: the
// tests of a suite share one process, so a stop left raised by a failed
// assertion would stop every test after it.
class StopLoweredAtExit {
public:
    StopLoweredAtExit() = default;
    ~StopLoweredAtExit();
    StopLoweredAtExit(const StopLoweredAtExit&) = delete;
    StopLoweredAtExit& operator=(const StopLoweredAtExit&) = delete;
};

// Runs `body` in a forked child and kills it with SIGKILL once it calls the
// function it is given, as a run killed mid-write. False when the child
// ended without calling it.
bool killedMidway(const std::function<void(const std::function<void()>& killNow)>& body);

// Switches LC_ALL (and the C++ global locale) to a comma-decimal locale for
// the lifetime of the object, so tests can prove number text ignores it.
// available() is false when no such locale is installed.
class CommaDecimalLocale {
public:
    CommaDecimalLocale();
    ~CommaDecimalLocale();
    bool available() const { return available_; }

private:
    std::string previous_;
    bool available_ = false;
};

} // namespace testsupport
