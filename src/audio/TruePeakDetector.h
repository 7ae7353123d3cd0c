#pragma once

#include <cstddef>
#include <vector>

namespace audio {

// Inter-sample peak detector after ITU-R BS.1770-4 Annex 2: each channel is
// oversampled 4× through a 49-tap polyphase FIR interpolator (windowed sinc,
// 12 or 13 taps per phase) and the largest absolute value is kept.
//
// Timing: the interpolator delays by `kLatency` frames. Frame k's own peak is
// the largest of |x[k]| and the three interpolated points between k and
// k+1 (times k+0.25, k+0.5, k+0.75), over all channels. Because of the
// delay, process() for frame n returns the peak of frame n − kLatency (0 for
// the first kLatency frames). maxPeak() includes the peaks still inside the
// interpolator, as if the stream were followed by silence, so it is complete
// at any time without a flush, and reading it changes nothing.
//
// Results do not depend on how the stream is cut into calls.
class TruePeakDetector {
public:
    static constexpr int kLatency = 6;   // frames
    static constexpr int kFactor = 4;    // oversampling

    explicit TruePeakDetector(int channels);

    // Feeds frame `frame` of an interleaved buffer; returns the peak (linear)
    // of the frame kLatency frames earlier.
    float process(const float* interleaved, std::size_t frame);
    // Feeds `frames` interleaved frames at once (the fast path; only the
    // running maximum is kept).
    void processBlock(const float* interleaved, std::size_t frames);

    // Largest peak of the stream so far (linear, absolute value), including
    // the frames still inside the interpolator.
    float maxPeak() const;
    int channels() const { return channels_; }

private:
    float framePeakAt(std::size_t pos) const;

    int channels_;
    // Per channel: a history of the last kHistory input samples, stored
    // twice over (positions i and i + kHistory) so the filter window is
    // always contiguous.
    std::vector<float> history_;
    std::size_t pos_ = 0;
    float maxPeak_ = 0;
    std::vector<float> scratch_;
};

} // namespace audio
