#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace audio {

// The quiet at the head and the tail of a file, measured the way the ACX
// check measures room tone: the file cut into 10 ms windows from its first
// frame, a window quiet when its level (the mean over its frames of the
// channel-averaged x²) is at or below −55 dBFS. The head runs up to the first
// window that is not quiet, the tail from the end of the last one; a file
// without such a window is all head and all tail.
struct RoomTone {
    double headSeconds = 0;
    double tailSeconds = 0;

    bool headOK() const;   // 0.5 ≤ head ≤ 1 s
    bool tailOK() const;   // 1 ≤ tail ≤ 5 s
    bool operator==(const RoomTone&) const = default;

    static constexpr double kWindowSeconds = 0.01;
    static constexpr double kQuietDB = -55;

    // Reads the file once at its own rate and channel count. Reading errors
    // pass through.
    static RoomTone measure(const std::filesystem::path& file);
};

// RoomTone::measure fed in chunks of interleaved frames. Also keeps the
// recording's own room tone, to lengthen a head or a tail with.
class RoomToneMeter {
public:
    RoomToneMeter(double sampleRate, int channels);

    void add(std::span<const float> samples, std::size_t frames);
    RoomTone result() const;

    // Frames to take away from or add at either end so that the head comes
    // to 0.75 s and the tail to 2.5 s: only what is missing is added (none
    // when the file holds no room tone to take it from), and quiet is taken
    // away only past 0.9 s at the head or 4.5 s at the tail. Changes keep the
    // window grid, so every window stays one that was measured.
    struct Plan {
        std::int64_t headTrim = 0;
        std::int64_t headPad = 0;
        std::int64_t tailTrim = 0;
        std::int64_t tailPad = 0;
        bool empty() const { return headTrim == 0 && headPad == 0 && tailTrim == 0 && tailPad == 0; }
    };
    Plan plan() const;

    std::int64_t frames() const { return frames_; }
    // The room tone: the longest run of windows at least 6 dB under the
    // quiet threshold (its first second), interleaved; empty without one.
    const std::vector<float>& roomTone() const { return runWindows_ > bestWindows_ ? run_ : best_; }

    // Reads a whole file through a new meter.
    static RoomToneMeter of(const std::filesystem::path& file);

private:
    struct Ends {
        std::optional<std::int64_t> firstLoudWindow;
        std::int64_t lastLoudEnd = 0;
    };
    Ends ends() const;
    double levelDB(double energy, std::int64_t frames) const;
    void closeWindow();
    void closeRun();

    double sampleRate_;
    std::size_t channels_;
    std::int64_t window_;
    std::int64_t frames_ = 0;
    std::int64_t windows_ = 0;
    double windowEnergy_ = 0;
    std::int64_t inWindow_ = 0;
    std::optional<std::int64_t> firstLoudWindow_;
    std::int64_t lastLoudEnd_ = 0;
    std::vector<float> windowSamples_;
    std::vector<float> run_;
    std::int64_t runWindows_ = 0;
    std::vector<float> best_;
    std::int64_t bestWindows_ = 0;
};

} // namespace audio
