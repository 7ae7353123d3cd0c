#pragma once

#include <optional>
#include <string>

#include "audio/RoomTone.h"

namespace audio {

// The three levels the Audible / ACX audiobook rules check, with the pass
// rules and the plain-text report. All bounds are inclusive; NaN fails.
// With `roomTone` the head and tail room tone are reported and judged too.
// `noiseGateOn` says the noise gate already ran, so a noisy floor's tip
// names what else helps.
struct ACXReport {
    double rmsDB = 0;
    double peakDB = 0;
    double noiseFloorDB = 0;
    double sampleRate = 0;
    std::optional<RoomTone> roomTone;
    bool noiseGateOn = false;

    bool rmsOK() const;      // −23 ≤ rmsDB ≤ −18
    bool peakOK() const;     // peakDB ≤ −3
    bool noiseOK() const;    // noiseFloorDB ≤ −60
    bool roomToneOK() const; // true without `roomTone`
    bool passes() const { return rmsOK() && peakOK() && noiseOK() && roomToneOK(); }
    std::string text() const;

    bool operator==(const ACXReport&) const = default;
};

} // namespace audio
