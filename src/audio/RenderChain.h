#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "audio/CleanupFilters.h"
#include "audio/LookaheadLimiter.h"
#include "audio/LoudnessMeter.h"

namespace audio {

// A run of interleaved frames travelling through the chain. Stages work in
// place; a stage with a delay (the limiter) or one that drops frames (the
// cuts) changes the frame count.
struct AudioBlock {
    std::vector<float> samples;   // frames × channels values
    std::size_t frames = 0;
};

struct StageSpec {
    double sampleRate = 48000;
    int channels = 2;
};

// One processing stage: prepare for a stream, process blocks of any size in
// order, finish (append what is still held back) at the end, reset to start
// a new stream. A stage's output never depends on how the stream was cut
// into blocks.
class RenderStage {
public:
    virtual ~RenderStage() = default;
    virtual void prepare(const StageSpec& spec) = 0;
    virtual void process(AudioBlock& block) = 0;
    virtual void finish(AudioBlock&) {}
    virtual void reset() = 0;
};

// Runs its stages in order; finish() lets each stage append its tail, which
// then runs through the stages after it.
class RenderChain {
public:
    void add(std::unique_ptr<RenderStage> stage) { stages_.push_back(std::move(stage)); }
    void prepare(const StageSpec& spec);
    void process(AudioBlock& block);
    void finish(AudioBlock& block);
    void reset();
    bool empty() const { return stages_.empty(); }

private:
    std::vector<std::unique_ptr<RenderStage>> stages_;
};

// The same biquad sections for every channel (64-bit, result stored as float).
class FilterStage : public RenderStage {
public:
    explicit FilterStage(std::vector<Biquad> sections) : prototype_(std::move(sections)) {}
    void prepare(const StageSpec& spec) override;
    void process(AudioBlock& block) override;
    void reset() override;

private:
    std::vector<Biquad> prototype_;
    std::vector<std::vector<Biquad>> perChannel_;
    int channels_ = 0;
};

// One combined factor per frame: the leveler curve (interpolated between
// block centres) × the static gain × the noise gate (fed with the frame peak).
class GainStage : public RenderStage {
public:
    GainStage(std::vector<double> levelerGainsDB, std::int64_t blockFrames, double staticGainDB,
              std::optional<double> gateThresholdDB);
    void prepare(const StageSpec& spec) override;
    void process(AudioBlock& block) override;
    void reset() override;

    // Leveler gain in dB at frame position p.
    static double levelerDB(const std::vector<double>& gains, std::int64_t blockFrames, std::int64_t p);

private:
    std::vector<double> gains_;
    std::int64_t blockFrames_;
    float staticFactor_;
    std::optional<double> gateThresholdDB_;
    std::optional<NoiseGate> gate_;
    double sampleRate_ = 48000;
    int channels_ = 0;
    std::int64_t position_ = 0;
};

// The look-ahead limiter; the output stays aligned with the input.
class LimiterStage : public RenderStage {
public:
    explicit LimiterStage(double ceilingDBTP) : ceilingDBTP_(ceilingDBTP) {}
    void prepare(const StageSpec& spec) override;
    void process(AudioBlock& block) override;
    void finish(AudioBlock& block) override;
    void reset() override;
    double maxReductionDB() const { return limiter_ ? limiter_->maxReductionDB() : 0.0; }

private:
    double ceilingDBTP_;
    StageSpec spec_;
    std::optional<LookaheadLimiter> limiter_;
    std::vector<float> out_;
};

// Drops the cut frames and fades around them. Positions count the frames
// reaching this stage, i.e. the source's timeline.
class CutStage : public RenderStage {
public:
    CutStage(std::vector<FrameRange> cuts, std::int64_t fadeFrames) : cuts_(std::move(cuts)), fade_(fadeFrames) {}
    void prepare(const StageSpec& spec) override;
    void process(AudioBlock& block) override;
    void reset() override;

private:
    std::vector<FrameRange> cuts_;
    std::int64_t fade_;
    std::optional<CutRenderer> renderer_;
    int channels_ = 0;
    std::int64_t position_ = 0;
};

// Measures what leaves the chain: BS.1770 loudness and true peak, RMS, sample
// peak and the 100 ms block levels for the noise floor. Changes nothing.
class OutputMeterStage : public RenderStage {
public:
    void prepare(const StageSpec& spec) override;
    void process(AudioBlock& block) override;
    void reset() override;

    std::optional<double> integratedLUFS() const { return meter_ ? meter_->integratedLUFS() : std::nullopt; }
    double truePeakDBTP() const { return meter_ ? meter_->truePeakDBTP() : -180.0; }
    double rmsDB() const;
    double samplePeakDB() const;
    double noiseFloorDB() const;
    std::int64_t frames() const { return frames_; }

private:
    StageSpec spec_;
    std::optional<LoudnessMeter> meter_;
    std::int64_t blockFrames_ = 1;
    double total_ = 0;
    double blockSum_ = 0;
    std::int64_t inBlock_ = 0;
    double peak_ = 0;
    std::int64_t frames_ = 0;
    std::vector<double> blockLevels_;
};

} // namespace audio
