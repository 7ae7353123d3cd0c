#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "audio/FrameRange.h"
#include "audio/KWeighting.h"

namespace audio {

// The cookbook high-pass section (RBJ audio EQ), zero state.
Biquad highPassSection(double frequency, double sampleRate, double q);
// The cookbook notch at `frequency` with Q 35, zero state.
Biquad notchSection(double frequency, double sampleRate);
// The hum harmonics k·f (k = 1…6) that lie below fs/2 − 100 Hz.
std::vector<double> notchFrequencies(double humFrequency, double sampleRate);
// The rumble high-pass (80 Hz) when asked for, then the hum notches.
std::vector<Biquad> cleanupSections(bool rumbleFilter, std::optional<double> humFrequency, double sampleRate);

// Attenuates to `floorGain` between phrases: a peak envelope (instant attack,
// 50 ms decay) against the threshold decides the goal, and the gain moves
// towards it in 3 ms when opening and 150 ms when closing.
struct NoiseGate {
    float threshold = 0;
    float floorGain = 0.25f;
    float attackCoefficient = 0;
    float releaseCoefficient = 0;
    float detectorCoefficient = 0;
    float envelope = 0;
    float gain = 1;

    NoiseGate(double thresholdDB, double sampleRate);
    // Updates the gate with one frame's peak and returns its factor.
    float process(float framePeak);
};

// Drops the frames inside the cuts and fades linearly over `fade` frames
// before and after each one. Positions must be asked in increasing order.
struct CutRenderer {
    std::vector<FrameRange> cuts;   // sorted, not overlapping
    std::int64_t fade = 1;          // at least 1 frame
    std::size_t index = 0;          // first cut not yet passed

    // Sorts and merges the ranges and keeps the fade at one frame or more.
    CutRenderer(std::vector<FrameRange> ranges, std::int64_t fadeFrames);
    // Nothing inside a cut, else a factor in (0, 1].
    std::optional<float> gain(std::int64_t position);
};

} // namespace audio
