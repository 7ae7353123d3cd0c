#include "audio/ACXReport.h"

#include <cmath>

#include <fmt/format.h>

namespace audio {

namespace {

// NaN compares false everywhere, so a value that is not a number fails.
std::string_view verdict(bool ok) { return ok ? "PASS  " : "FAIL  "; }

} // namespace

bool ACXReport::rmsOK() const { return rmsDB >= -23.0 && rmsDB <= -18.0; }
bool ACXReport::peakOK() const { return peakDB <= -3.0; }
bool ACXReport::noiseOK() const { return noiseFloorDB <= -60.0; }
bool ACXReport::roomToneOK() const { return !roomTone || (roomTone->headOK() && roomTone->tailOK()); }

std::string ACXReport::text() const {
    std::string out = "Audible / ACX audio check\n==========================\n";
    out += verdict(rmsOK());
    out += fmt::format("RMS level      {:6.1f} dB   (needs -23 to -18 dB)\n", rmsDB);
    out += verdict(peakOK());
    out += fmt::format("Peak level     {:6.1f} dB   (needs -3 dB or lower)\n", peakDB);
    out += verdict(noiseOK());
    out += fmt::format("Noise floor    {:6.1f} dB   (needs -60 dB or lower)", noiseFloorDB);
    if (roomTone) {
        out += "\n";
        out += verdict(roomTone->headOK());
        out += fmt::format("Room tone head {:6.2f} s    (needs 0.5 to 1 s)\n", roomTone->headSeconds);
        out += verdict(roomTone->tailOK());
        out += fmt::format("Room tone tail {:6.2f} s    (needs 1 to 5 s)", roomTone->tailSeconds);
    }
    // The rate as a whole number, fraction dropped; a rate that is not a
    // finite number is shown as 0.
    long long rate = 0;
    if (std::isfinite(sampleRate) && std::fabs(sampleRate) < 9.0e18) rate = static_cast<long long>(sampleRate);
    out += fmt::format("\nSample rate    {} Hz    (ACX wants 44100 Hz; upload as 192 kbps CBR MP3)\n\nOverall: ",
                       rate);
    out += passes() ? "PASSES the ACX audio requirements." : "Does NOT pass yet. See the FAIL lines above.";
    out += "\n";
    if (!noiseOK())
        out += noiseGateOn ? "Tip: the noise gate is on; record in a quieter room, or run a noise-reduction pass "
                             "before importing."
                           : "Tip: turn on the noise gate, or record with less background noise.";
    return out;
}

} // namespace audio
