#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace audio {

// A WAV file whose data ends before the length its header gives (a copy cut
// short, a recorder that stopped writing).
struct WavShortfall {
    std::uint64_t missingBytes = 0;
    double missingSeconds = 0;
    bool noData = false; // not one byte of audio data is there
    bool operator==(const WavShortfall&) const = default;
};

// Reads the RIFF header of a plain WAV file: nothing when the file is not
// RIFF/WAVE, is whole, or leaves the data length open (0 or 0xFFFFFFFF, as
// streaming writers and RF64 do). A path that is not a regular file is
// never opened for reading (a FIFO would block).
std::optional<WavShortfall> wavShortfall(const std::filesystem::path& file);
// The same for a file already open, of `size` bytes, read with pread (the
// descriptor's own position is left alone).
std::optional<WavShortfall> wavShortfall(int descriptor, std::uint64_t size);
// "<name>: the audio data ends 12.3 s early (589 824 bytes missing); the rest is read."
// or "<name> holds no audio data (its header gives 12.3 s)."
std::string shortfallText(const std::filesystem::path& file, const WavShortfall& shortfall);

// "<name>: the audio ends 85.1 s before its stated length (117.8 s); the rest is read."
// Said of a compressed file whose stream ends well before the length its
// container gives (a download or copy cut short).
std::string endsEarlyText(const std::filesystem::path& file, double decodedSeconds, double statedSeconds);
// True when a stream that ended after `decodedSeconds` falls short of its
// stated length by more than encoder delay and padding or a container's
// rounding explain: more than max(1 s, 2 %).
bool endsEarly(double decodedSeconds, double statedSeconds);

// Problems that do not stop a read (a WAV cut short) go to the sink of the
// innermost ReadWarnings alive on the reading thread; each text at most once
// per sink. Without one they go to the standard error stream.
class ReadWarnings {
public:
    using Sink = std::function<void(const std::string&)>;
    explicit ReadWarnings(Sink sink);
    ~ReadWarnings();
    ReadWarnings(const ReadWarnings&) = delete;
    ReadWarnings& operator=(const ReadWarnings&) = delete;

    static void tell(const std::string& text);

private:
    Sink sink_;
    std::set<std::string> told_;
    ReadWarnings* outer_;
};

// libav prints banners, warnings and errors on the standard error stream by
// default. After this call (any number of times, from any thread) it reports
// only errors, and those are kept per thread for takeLibavError() instead of
// being printed.
void routeLibavLog();
// The last error libav reported on this thread since the previous call,
// without its line end or the "[name @ 0x…]" context libav puts in front;
// empty when there was none.
std::string takeLibavError();
// `text` without the "[name @ 0x…] " contexts libav and the ffmpeg program
// put before their messages (addresses and component names mean nothing to
// a user).
std::string withoutLibavContexts(std::string_view text);

} // namespace audio
