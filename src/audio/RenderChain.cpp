#include "audio/RenderChain.h"

#include <algorithm>
#include <cmath>

#include "audio/AudioAnalysis.h"

namespace audio {

void RenderChain::prepare(const StageSpec& spec)
{
    for (auto& s : stages_) s->prepare(spec);
}

void RenderChain::process(AudioBlock& block)
{
    for (auto& s : stages_) s->process(block);
}

void RenderChain::finish(AudioBlock& block)
{
    for (auto& s : stages_) {
        s->process(block);
        s->finish(block);
    }
}

void RenderChain::reset()
{
    for (auto& s : stages_) s->reset();
}

// ---- FilterStage

void FilterStage::prepare(const StageSpec& spec)
{
    channels_ = spec.channels;
    reset();
}

void FilterStage::process(AudioBlock& block)
{
    const auto channels = static_cast<std::size_t>(channels_);
    for (std::size_t c = 0; c < channels; ++c) {
        auto& chain = perChannel_[c];
        for (std::size_t f = 0; f < block.frames; ++f) {
            float& sample = block.samples[f * channels + c];
            double x = sample;
            for (Biquad& b : chain) x = b.process(x);
            sample = static_cast<float>(x);
        }
    }
}

void FilterStage::reset()
{
    perChannel_.assign(static_cast<std::size_t>(std::max(0, channels_)), prototype_);
}

// ---- GainStage

namespace {
// 10^(dB/20) = exp(dB · ln 10 / 20)
constexpr double kDBToLog = 0.11512925464970229;
} // namespace

GainStage::GainStage(std::vector<double> levelerGainsDB, std::int64_t blockFrames, double staticGainDB,
                     std::optional<double> gateThresholdDB)
    : gains_(std::move(levelerGainsDB)), blockFrames_(std::max<std::int64_t>(1, blockFrames)),
      staticFactor_(static_cast<float>(std::pow(10.0, staticGainDB / 20))), gateThresholdDB_(gateThresholdDB)
{
}

double GainStage::levelerDB(const std::vector<double>& gains, std::int64_t blockFrames, std::int64_t p)
{
    if (gains.empty()) return 0;
    const auto last = static_cast<std::int64_t>(gains.size()) - 1;
    const double e = static_cast<double>(p) / static_cast<double>(std::max<std::int64_t>(1, blockFrames)) - 0.5;
    // e is finite and bounded by the frame position, so the floor fits.
    const auto i0 = std::clamp(static_cast<std::int64_t>(std::floor(std::clamp(e, -1.0, static_cast<double>(last) + 1))),
                               std::int64_t{0}, last);
    const auto i1 = std::min(i0 + 1, last);
    const double t = std::clamp(e - static_cast<double>(i0), 0.0, 1.0);
    return (1 - t) * gains[static_cast<std::size_t>(i0)] + t * gains[static_cast<std::size_t>(i1)];
}

void GainStage::prepare(const StageSpec& spec)
{
    sampleRate_ = spec.sampleRate;
    channels_ = spec.channels;
    reset();
}

void GainStage::process(AudioBlock& block)
{
    const auto channels = static_cast<std::size_t>(channels_);
    for (std::size_t f = 0; f < block.frames; ++f, ++position_) {
        float* frame = block.samples.data() + f * channels;
        float factor = staticFactor_;
        if (!gains_.empty())
            factor = static_cast<float>(std::exp(levelerDB(gains_, blockFrames_, position_) * kDBToLog)) * staticFactor_;
        if (gate_) {
            float peak = 0;
            for (std::size_t c = 0; c < channels; ++c) peak = std::max(peak, std::abs(frame[c]));
            factor *= gate_->process(peak);
        }
        for (std::size_t c = 0; c < channels; ++c) frame[c] *= factor;
    }
}

void GainStage::reset()
{
    position_ = 0;
    gate_.reset();
    if (gateThresholdDB_) gate_.emplace(*gateThresholdDB_, sampleRate_);
}

// ---- LimiterStage

namespace {
constexpr double kLimiterLookaheadMs = 5;
constexpr double kLimiterReleaseMs = 80;
} // namespace

void LimiterStage::prepare(const StageSpec& spec)
{
    spec_ = spec;
    reset();
}

void LimiterStage::process(AudioBlock& block)
{
    out_.clear();
    limiter_->process(block.samples.data(), block.frames, out_);
    std::swap(block.samples, out_);
    block.frames = spec_.channels > 0 ? block.samples.size() / static_cast<std::size_t>(spec_.channels) : 0;
}

void LimiterStage::finish(AudioBlock& block)
{
    limiter_->flush(block.samples);
    block.frames = spec_.channels > 0 ? block.samples.size() / static_cast<std::size_t>(spec_.channels) : 0;
}

void LimiterStage::reset()
{
    limiter_.emplace(spec_.sampleRate, spec_.channels, ceilingDBTP_, kLimiterLookaheadMs, kLimiterReleaseMs);
}

// ---- CutStage

void CutStage::prepare(const StageSpec& spec)
{
    channels_ = spec.channels;
    reset();
}

void CutStage::process(AudioBlock& block)
{
    if (renderer_->cuts.empty()) {
        position_ += static_cast<std::int64_t>(block.frames);
        return;
    }
    const auto channels = static_cast<std::size_t>(channels_);
    std::size_t kept = 0;
    for (std::size_t f = 0; f < block.frames; ++f, ++position_) {
        const auto factor = renderer_->gain(position_);
        if (!factor) continue;
        for (std::size_t c = 0; c < channels; ++c)
            block.samples[kept * channels + c] = block.samples[f * channels + c] * *factor;
        ++kept;
    }
    block.frames = kept;
    block.samples.resize(kept * channels);
}

void CutStage::reset()
{
    position_ = 0;
    renderer_.emplace(cuts_, fade_);
}

// ---- OutputMeterStage

void OutputMeterStage::prepare(const StageSpec& spec)
{
    spec_ = spec;
    reset();
}

void OutputMeterStage::process(AudioBlock& block)
{
    meter_->process(block.samples.data(), block.frames);
    const auto channels = static_cast<std::size_t>(std::max(0, spec_.channels));
    for (std::size_t f = 0; f < block.frames; ++f) {
        const float* frame = block.samples.data() + f * channels;
        double sum = 0;
        for (std::size_t c = 0; c < channels; ++c) {
            const double x = frame[c];
            sum += x * x;
            peak_ = std::max(peak_, std::abs(x));
        }
        total_ += sum;
        blockSum_ += sum;
        if (++inBlock_ == blockFrames_) {
            const double denominator = static_cast<double>(blockFrames_) * static_cast<double>(std::max<std::size_t>(1, channels));
            blockLevels_.push_back(10 * std::log10(std::max(1e-12, blockSum_ / denominator)));
            blockSum_ = 0;
            inBlock_ = 0;
        }
    }
    frames_ += static_cast<std::int64_t>(block.frames);
}

void OutputMeterStage::reset()
{
    meter_.emplace(spec_.sampleRate, spec_.channels);
    blockFrames_ = AudioAnalysis::blockFrames(spec_.sampleRate);
    total_ = blockSum_ = peak_ = 0;
    inBlock_ = frames_ = 0;
    blockLevels_.clear();
}

double OutputMeterStage::rmsDB() const
{
    const double samples = std::max(1.0, static_cast<double>(frames_) * std::max(0, spec_.channels));
    return 10 * std::log10(std::max(1e-12, total_ / samples));
}

double OutputMeterStage::samplePeakDB() const
{
    return 20 * std::log10(std::max(1e-9, peak_));
}

double OutputMeterStage::noiseFloorDB() const
{
    return AudioAnalysis::noiseFloor(blockLevels_);
}

} // namespace audio
