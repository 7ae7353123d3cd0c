#include "audio/RoomTone.h"

#include <algorithm>
#include <cmath>

#include "audio/PCMStream.h"
#include "core/Numbers.h"

namespace audio {

namespace {

constexpr double kHeadLeast = 0.5, kHeadMost = 1.0;
constexpr double kTailLeast = 1.0, kTailMost = 5.0;
// Where the clean-up brings a head or tail, and how much quiet it lets
// stand before taking some away: well inside the limits either way.
constexpr double kHeadAim = 0.75, kHeadKeep = 0.9;
constexpr double kTailAim = 2.5, kTailKeep = 4.5;
// The longest stretch of room tone kept to repeat, in windows, and the level
// its windows stay under: well below the quiet threshold, so that a word's
// last breath is not taken for room tone.
constexpr std::int64_t kRoomToneWindows = 100;
constexpr double kRoomToneDB = RoomTone::kQuietDB - 6;

std::int64_t windowsIn(double seconds) { return core::toInt64(std::round(seconds / RoomTone::kWindowSeconds)).value_or(0); }

} // namespace

bool RoomTone::headOK() const { return headSeconds >= kHeadLeast && headSeconds <= kHeadMost; }
bool RoomTone::tailOK() const { return tailSeconds >= kTailLeast && tailSeconds <= kTailMost; }

RoomTone RoomTone::measure(const std::filesystem::path& file) { return RoomToneMeter::of(file).result(); }

RoomToneMeter::RoomToneMeter(double sampleRate, int channels)
    : sampleRate_(sampleRate), channels_(static_cast<std::size_t>(std::max(1, channels))),
      window_(std::max<std::int64_t>(1, core::toInt64(std::round(sampleRate * RoomTone::kWindowSeconds)).value_or(1)))
{
}

RoomToneMeter RoomToneMeter::of(const std::filesystem::path& file)
{
    const PCMStream::Format format = PCMStream::format(file);
    RoomToneMeter meter(format.sampleRate, format.channels);
    PCMStream::read(file, format.sampleRate, format.channels, std::nullopt,
                    [&](std::span<const float> samples, std::size_t frames) { meter.add(samples, frames); });
    return meter;
}

double RoomToneMeter::levelDB(double energy, std::int64_t frames) const
{
    const double mean = energy / (static_cast<double>(frames) * static_cast<double>(channels_));
    return 10 * std::log10(std::max(1e-12, mean));
}

void RoomToneMeter::add(std::span<const float> samples, std::size_t frames)
{
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t c = 0; c < channels_; ++c) {
            const float x = samples[f * channels_ + c];
            windowEnergy_ += static_cast<double>(x) * x;
            windowSamples_.push_back(x);
        }
        ++frames_;
        if (++inWindow_ == window_) closeWindow();
    }
}

void RoomToneMeter::closeWindow()
{
    const double level = levelDB(windowEnergy_, window_);
    if (level > RoomTone::kQuietDB) {
        if (!firstLoudWindow_) firstLoudWindow_ = windows_;
        lastLoudEnd_ = (windows_ + 1) * window_;
    }
    if (level <= kRoomToneDB) {
        if (runWindows_ < kRoomToneWindows) run_.insert(run_.end(), windowSamples_.begin(), windowSamples_.end());
        ++runWindows_;
    } else {
        closeRun();
    }
    ++windows_;
    windowEnergy_ = 0;
    inWindow_ = 0;
    windowSamples_.clear();
}

void RoomToneMeter::closeRun()
{
    if (runWindows_ > bestWindows_) {
        best_.swap(run_);
        bestWindows_ = runWindows_;
    }
    run_.clear();
    runWindows_ = 0;
}

RoomToneMeter::Ends RoomToneMeter::ends() const
{
    Ends e{firstLoudWindow_, lastLoudEnd_};
    // A last, shorter window counts on its own frames.
    if (inWindow_ > 0 && levelDB(windowEnergy_, inWindow_) > RoomTone::kQuietDB) {
        if (!e.firstLoudWindow) e.firstLoudWindow = windows_;
        e.lastLoudEnd = frames_;
    }
    return e;
}

RoomTone RoomToneMeter::result() const
{
    const Ends e = ends();
    const double rate = sampleRate_ > 0 ? sampleRate_ : 1;
    if (!e.firstLoudWindow) {
        const double all = static_cast<double>(frames_) / rate;
        return {all, all};
    }
    return {static_cast<double>(*e.firstLoudWindow * window_) / rate, static_cast<double>(frames_ - e.lastLoudEnd) / rate};
}

RoomToneMeter::Plan RoomToneMeter::plan() const
{
    Plan p;
    const Ends e = ends();
    if (!e.firstLoudWindow) return p; // nothing but quiet
    const bool canPad = !roomTone().empty();

    const std::int64_t headWindows = *e.firstLoudWindow;
    if (headWindows < windowsIn(kHeadAim) && canPad) p.headPad = (windowsIn(kHeadAim) - headWindows) * window_;
    else if (headWindows > windowsIn(kHeadKeep)) p.headTrim = (headWindows - windowsIn(kHeadAim)) * window_;

    const auto framesOf = [&](double seconds) { return core::toInt64(std::round(seconds * sampleRate_)).value_or(0); };
    const std::int64_t tail = frames_ - e.lastLoudEnd;
    if (tail < framesOf(kTailAim) && canPad) {
        // Added after the tail's last whole window, in whole windows, so
        // that every window of the new tail is one measured as quiet here.
        const std::int64_t whole = tail / window_ * window_;
        p.tailTrim = tail - whole;
        p.tailPad = (framesOf(kTailAim) - whole + window_ - 1) / window_ * window_;
    } else if (tail > framesOf(kTailKeep)) {
        p.tailTrim = tail - framesOf(kTailAim);
    }
    return p;
}

} // namespace audio
