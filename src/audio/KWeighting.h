#pragma once

namespace audio {

// One second-order section in transposed direct form II, 64-bit throughout.
// Coefficients are normalised (a0 divided out and not stored).
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0;
    double a1 = 0, a2 = 0;
    double z1 = 0, z2 = 0;

    double process(double x) {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// The BS.1770 K-weighting pre-filter: a high shelf (s1) then a high pass (s2).
struct KWeighting {
    Biquad s1;
    Biquad s2;

    explicit KWeighting(double sampleRate);
    double process(double x) { return s2.process(s1.process(x)); }
};

} // namespace audio
