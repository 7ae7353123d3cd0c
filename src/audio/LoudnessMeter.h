#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "audio/KWeighting.h"
#include "audio/TruePeakDetector.h"

namespace audio {

// Integrated loudness after ITU-R BS.1770 (K-weighting, 400 ms blocks on a
// 100 ms hop, absolute gate −70 LUFS, relative gate −10 LU) and the true peak
// of a stream of interleaved float frames. Every channel has weight 1.0.
// Fed with process() chunk by chunk (any chunk size; results never depend on
// it), read at any time. Keeps one number per 100 ms.
//
// Sub-block energies for other stages: subBlocks()[i] is the mean over the
// i-th finished 100 ms sub-block's frames of the sum over channels of the
// squared K-weighted sample (subBlockFrames() frames each; an unfinished
// last sub-block is not listed). That is exactly the per-block "weighted
// energy" an analysis wants, so a caller that feeds the meter can read it
// here instead of filtering a second time: after each process() call, the
// entries from the previous size() onward are new.
class LoudnessMeter {
public:
    LoudnessMeter(double sampleRate, int channels);

    // `frames` interleaved frames (at least frames × channels values).
    void process(const float* interleaved, std::size_t frames);

    // Absent with fewer than four sub-blocks, or when no block survives the
    // gates.
    std::optional<double> integratedLUFS() const;
    // 20·log10(max(1e-9, true peak)); silence gives −180.
    double truePeakDBTP() const;
    std::size_t framesProcessed() const { return framesProcessed_; }

    const std::vector<double>& subBlocks() const { return subBlocks_; }
    std::size_t subBlockFrames() const { return subBlockFrames_; }
    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }

    // Gated integrated loudness of a list of 100 ms sub-block energies (the
    // meter's own rule, for callers holding such a list).
    static std::optional<double> integratedLUFS(const std::vector<double>& subBlocks);

private:
    double sampleRate_;
    int channels_;
    std::vector<KWeighting> filters_;
    std::size_t subBlockFrames_;
    double subBlockAccumulator_ = 0;
    std::size_t subBlockCount_ = 0;
    std::vector<double> subBlocks_;
    TruePeakDetector peak_;
    std::size_t framesProcessed_ = 0;
    std::vector<double> scratch_;
};

} // namespace audio
