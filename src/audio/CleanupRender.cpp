#include "audio/CleanupRender.h"

#include <algorithm>

#include "audio/BlockPipeline.h"
#include "audio/PCMStream.h"
#include "audio/WAVWriter.h"
#include "core/Numbers.h"

namespace audio {

namespace {
constexpr double kLimiterMarginDB = 0.2;
constexpr double kCutFadeSeconds = 0.01;
constexpr int kRenderBitDepth = 24;
} // namespace

double CleanupRender::limiterCeilingDB(const LoudnessTarget& target)
{
    return target.acx ? target.truePeakDB : target.truePeakDB - kLimiterMarginDB;
}

CleanupRender CleanupRender::make(double sampleRate, int channels, const CleanupPlan& plan,
                                  const CleanupOptions& cleanup, double gainDB, const LoudnessTarget& target)
{
    CleanupRender r;
    auto sections = cleanupSections(cleanup.rumbleFilter, plan.humFrequency, sampleRate);
    if (!sections.empty()) r.cleanup.add(std::make_unique<FilterStage>(std::move(sections)));
    r.cleanup.add(std::make_unique<GainStage>(plan.levelerGainsDB, AudioAnalysis::blockFrames(sampleRate), gainDB,
                                            plan.gateThresholdDB));
    auto limiter = std::make_unique<LimiterStage>(limiterCeilingDB(target));
    r.limiter = limiter.get();
    r.dynamics.add(std::move(limiter));
    const std::int64_t fade = std::max<std::int64_t>(1, core::toInt64(sampleRate * kCutFadeSeconds).value_or(1));
    r.dynamics.add(std::make_unique<CutStage>(plan.cuts, fade));
    auto meter = std::make_unique<OutputMeterStage>();
    r.meter = meter.get();
    r.metering.add(std::move(meter));
    const StageSpec spec{sampleRate, channels};
    r.cleanup.prepare(spec);
    r.dynamics.prepare(spec);
    r.metering.prepare(spec);
    return r;
}

void CleanupRender::process(AudioBlock& block)
{
    cleanup.process(block);
    dynamics.process(block);
    metering.process(block);
}

void CleanupRender::finish(AudioBlock& block)
{
    cleanup.finish(block);
    dynamics.finish(block);
    metering.finish(block);
}

CleanupRender::Result CleanupRender::result() const
{
    Result out;
    out.integratedLUFS = meter->integratedLUFS();
    out.truePeakDBTP = meter->truePeakDBTP();
    out.limiterReductionDB = limiter->maxReductionDB();
    out.rmsDB = meter->rmsDB();
    out.samplePeakDB = meter->samplePeakDB();
    out.noiseFloorDB = meter->noiseFloorDB();
    out.framesWritten = meter->frames();
    return out;
}

CleanupRender::Result CleanupRender::render(const std::filesystem::path& source,
                                            const std::filesystem::path& destination, const AudioAnalysis& analysis,
                                            const CleanupPlan& plan, const CleanupOptions& cleanup, double gainDB,
                                            const LoudnessTarget& target)
{
    WAVWriter writer(destination, analysis.sampleRate, analysis.channels, kRenderBitDepth);
    CleanupRender r = make(analysis.sampleRate, analysis.channels, plan, cleanup, gainDB, target);

    // Three groups on three threads: clean-up here, while the limiter and
    // the cuts run on one worker and metering and writing on another. Each
    // group sees the blocks in order, so the file is the same as inline.
    BlockPipeline output([&](AudioBlock& block) {
        r.metering.process(block);
        writer.write(block.samples, block.frames);
    });
    BlockPipeline dynamics([&](AudioBlock& block) {
        r.dynamics.process(block);
        output.push(block);
    });
    AudioBlock block;
    PCMStream::read(source, analysis.sampleRate, analysis.channels, std::nullopt,
                    [&](std::span<const float> samples, std::size_t frames) {
                        block.samples.assign(samples.begin(), samples.end());
                        block.frames = frames;
                        r.cleanup.process(block);
                        dynamics.push(block);
                    });
    dynamics.finish();
    // The worker has stopped; the limiter's tail is drained from here.
    block.samples.clear();
    block.frames = 0;
    r.dynamics.finish(block);
    output.push(block);
    output.finish();
    writer.close();
    return r.result();
}

} // namespace audio
