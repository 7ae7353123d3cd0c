#include "audio/KWeighting.h"

#include <cmath>

namespace audio {

KWeighting::KWeighting(double sampleRate) {
    const double fs = sampleRate;
    {
        const double K = std::tan(5284.078578647628 / fs);
        const double Q = 0.7071752369554196;
        const double Vh = 1.5848647011308556;
        const double Vb = 1.2587209302325617;
        const double a0 = 1 + K / Q + K * K;
        s1.b0 = (Vh + Vb * K / Q + K * K) / a0;
        s1.b1 = 2 * (K * K - Vh) / a0;
        s1.b2 = (Vh - Vb * K / Q + K * K) / a0;
        s1.a1 = 2 * (K * K - 1) / a0;
        s1.a2 = (1 - K / Q + K * K) / a0;
    }
    {
        const double K = std::tan(119.8061151453059 / fs);
        const double Q = 0.5003270373238773;
        const double a0 = 1 + K / Q + K * K;
        s2.b0 = 1;
        s2.b1 = -2;
        s2.b2 = 1;
        s2.a1 = 2 * (K * K - 1) / a0;
        s2.a2 = (1 - K / Q + K * K) / a0;
    }
}

} // namespace audio
