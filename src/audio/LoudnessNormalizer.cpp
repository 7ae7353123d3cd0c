#include "audio/LoudnessNormalizer.h"

#include <algorithm>
#include <cmath>

#include "audio/CleanupRender.h"
#include "audio/PCMStream.h"
#include "audio/RoomTone.h"
#include "audio/WAVWriter.h"

namespace audio {

namespace {

LoudnessNormalizer::Measurement outputMeasurement(const CleanupRender::Result& r, const AudioAnalysis& a)
{
    LoudnessNormalizer::Measurement m;
    m.integratedLUFS = r.integratedLUFS.value_or(-70);
    m.truePeakDBTP = r.truePeakDBTP;
    m.sampleRate = a.sampleRate;
    m.channels = a.channels;
    m.durationSeconds = a.sampleRate > 0 ? static_cast<double>(r.framesWritten) / a.sampleRate : 0;
    m.rmsDB = r.rmsDB;
    m.samplePeakDB = r.samplePeakDB;
    m.noiseFloorDB = r.noiseFloorDB;
    return m;
}

LoudnessNormalizer::Measurement inputMeasurement(const AudioAnalysis& a)
{
    LoudnessNormalizer::Measurement m;
    m.integratedLUFS = a.integratedLUFS.value_or(-70);
    m.truePeakDBTP = a.truePeak;
    m.sampleRate = a.sampleRate;
    m.channels = a.channels;
    m.durationSeconds = a.sampleRate > 0 ? static_cast<double>(a.frames) / a.sampleRate : 0;
    m.rmsDB = a.rmsDB;
    m.samplePeakDB = a.samplePeak;
    m.noiseFloorDB = a.noiseFloorDB;
    return m;
}

// The level a target is met on: RMS for ACX targets, else integrated loudness.
double measuredLevel(const CleanupRender::Result& r, const LoudnessTarget& target)
{
    if (target.acx) return r.rmsDB;
    return r.integratedLUFS.value_or(target.integratedLUFS);
}

// How far a level measured before the room tone is set moves once it is:
// the quiet taken away or added holds next to no energy, so the mean over
// the frames changes with their number alone.
double roomToneShiftDB(const RoomToneMeter& meter)
{
    const RoomToneMeter::Plan p = meter.plan();
    const auto before = static_cast<double>(meter.frames());
    const double after = before - static_cast<double>(p.headTrim + p.tailTrim - p.headPad - p.tailPad);
    if (!(before > 0) || !(after > 0)) return 0;
    return 10 * std::log10(before / after);
}

// Writes `file` again with its head and tail room tone brought to the aims
// of RoomToneMeter::plan, the added room tone repeated back and forth from
// the recording's own quiet. Returns `rendered` with the levels of what was
// written.
CleanupRender::Result setRoomTone(const std::filesystem::path& file, CleanupRender::Result rendered)
{
    const RoomToneMeter measured = RoomToneMeter::of(file);
    const RoomToneMeter::Plan plan = measured.plan();
    if (plan.empty()) return rendered;

    const PCMStream::Format format = PCMStream::format(file);
    const auto channels = static_cast<std::size_t>(format.channels);
    WAVWriter writer(file, format.sampleRate, format.channels, 24);
    OutputMeterStage meter;
    meter.prepare({format.sampleRate, format.channels});
    AudioBlock block;
    const auto emit = [&] {
        block.frames = block.samples.size() / channels;
        meter.process(block);
        writer.write(block.samples, block.frames);
        block.samples.clear();
    };
    const std::vector<float>& tone = measured.roomTone();
    const std::size_t toneFrames = tone.size() / channels;
    const auto pad = [&](std::int64_t frames) {
        if (toneFrames == 0) return;
        for (std::int64_t i = 0; i < frames; ++i) {
            const std::size_t at = static_cast<std::size_t>(i) % (2 * toneFrames);
            const std::size_t frame = at < toneFrames ? at : 2 * toneFrames - 1 - at;
            block.samples.insert(block.samples.end(), tone.begin() + static_cast<std::ptrdiff_t>(frame * channels),
                                 tone.begin() + static_cast<std::ptrdiff_t>((frame + 1) * channels));
            if (block.samples.size() >= 4096 * channels) emit();
        }
        emit();
    };

    pad(plan.headPad);
    const std::int64_t end = measured.frames() - plan.tailTrim;
    std::int64_t position = 0;
    PCMStream::read(file, format.sampleRate, format.channels, std::nullopt,
                    [&](std::span<const float> samples, std::size_t frames) {
                        const std::int64_t first = std::max<std::int64_t>(position, plan.headTrim);
                        const std::int64_t last = std::min<std::int64_t>(position + static_cast<std::int64_t>(frames), end);
                        if (first < last) {
                            const auto from = static_cast<std::size_t>(first - position) * channels;
                            const auto to = static_cast<std::size_t>(last - position) * channels;
                            block.samples.assign(samples.begin() + static_cast<std::ptrdiff_t>(from),
                                                 samples.begin() + static_cast<std::ptrdiff_t>(to));
                            emit();
                        }
                        position += static_cast<std::int64_t>(frames);
                    });
    pad(plan.tailPad);
    writer.close();

    rendered.integratedLUFS = meter.integratedLUFS();
    rendered.truePeakDBTP = meter.truePeakDBTP();
    rendered.rmsDB = meter.rmsDB();
    rendered.samplePeakDB = meter.samplePeakDB();
    rendered.noiseFloorDB = meter.noiseFloorDB();
    rendered.framesWritten = meter.frames();
    return rendered;
}

} // namespace

LoudnessNormalizer::NormalizerError LoudnessNormalizer::NormalizerError::silentOrTooShort(const std::filesystem::path& file)
{
    return NormalizerError(file.filename().string() + " is silent or too short to measure loudness.");
}

LoudnessNormalizer::NormalizerError LoudnessNormalizer::NormalizerError::cannotCreateExportSession()
{
    return NormalizerError("Failed to initialize the audio export for normalization.");
}

LoudnessNormalizer::NormalizerError LoudnessNormalizer::NormalizerError::exportFailed()
{
    return NormalizerError("Audio export session failed.");
}

std::optional<double> LoudnessNormalizer::correctedGain(double gainDB, double measured, double target)
{
    if (!(std::abs(measured - target) > kToleranceDB)) return std::nullopt;
    const double corrected = gainDB + (target - measured);
    if (!std::isfinite(corrected) || corrected >= kMaxGainDB) return std::nullopt;
    return corrected;
}

LoudnessNormalizer::Result LoudnessNormalizer::process(const std::filesystem::path& source,
                                                       const std::filesystem::path& destination,
                                                       const LoudnessTarget& target,
                                                       const CleanupOptions& cleanup) const
{
    const AudioAnalysis analysis = AudioAnalysis::analyze(source, cleanup);
    if (!analysis.integratedLUFS) throw NormalizerError::silentOrTooShort(source);
    const CleanupPlan plan = CleanupPlan::make(analysis, cleanup);

    const double start = target.acx ? analysis.rmsDB : *analysis.integratedLUFS;
    double gain = target.integratedLUFS - start;
    CleanupRender::Result last = CleanupRender::render(source, destination, analysis, plan, cleanup, gain, target);
    // An ACX output gets its room tone set after the last pass; the passes
    // aim at the level that lands on the target once it is.
    const double aim =
        target.integratedLUFS - (target.acx ? roomToneShiftDB(RoomToneMeter::of(destination)) : 0.0);

    for (int pass = 0; pass < kMaxCorrections; ++pass) {
        const auto corrected = correctedGain(gain, measuredLevel(last, target), aim);
        if (!corrected) break;
        gain = *corrected;
        last = CleanupRender::render(source, destination, analysis, plan, cleanup, gain, target);
    }
    if (target.acx) last = setRoomTone(destination, last);
    if (!last.integratedLUFS) throw NormalizerError::silentOrTooShort(source);

    Result result;
    result.input = inputMeasurement(analysis);
    result.output = outputMeasurement(last, analysis);
    // `gain` only moves together with a pass that is written, so this is the
    // gain of the file on disk, also when a correction was refused.
    result.gainDB = gain;
    result.limiterReductionDB = last.limiterReductionDB;
    result.humRemovedHz = plan.humFrequency;
    std::int64_t removed = 0;
    for (const FrameRange& c : plan.cuts) removed += c.length();
    result.secondsRemoved = analysis.sampleRate > 0 ? static_cast<double>(removed) / analysis.sampleRate : 0;
    if (!plan.levelerGainsDB.empty()) {
        const auto [lo, hi] = std::minmax_element(plan.levelerGainsDB.begin(), plan.levelerGainsDB.end());
        if (*hi - *lo > 0.5) result.levelerRangeDB = GainRange{*lo, *hi};
    }
    if (target.acx)
        result.acxReport = ACXReport{last.rmsDB,          last.samplePeakDB, last.noiseFloorDB,
                                     analysis.sampleRate, std::nullopt,      cleanup.noiseGate};
    return result;
}

LoudnessNormalizer::Result LoudnessNormalizer::normalize(const std::filesystem::path& source,
                                                         const std::filesystem::path& destination,
                                                         const LoudnessTarget& target) const
{
    return process(source, destination, target, CleanupOptions::none());
}

ACXReport LoudnessNormalizer::acxCheck(const std::filesystem::path& file) const
{
    const PCMStream::Format format = PCMStream::format(file);
    OutputMeterStage levels;
    levels.prepare({format.sampleRate, format.channels});
    RoomToneMeter roomTone(format.sampleRate, format.channels);
    AudioBlock block;
    PCMStream::read(file, format.sampleRate, format.channels, std::nullopt,
                    [&](std::span<const float> samples, std::size_t frames) {
                        roomTone.add(samples, frames);
                        block.samples.assign(samples.begin(), samples.end());
                        block.frames = frames;
                        levels.process(block);
                    });
    return ACXReport{levels.rmsDB(), levels.samplePeakDB(), levels.noiseFloorDB(), format.sampleRate,
                     roomTone.result()};
}

LoudnessNormalizer::Measurement LoudnessNormalizer::measure(const std::filesystem::path& file) const
{
    return inputMeasurement(AudioAnalysis::analyze(file, false));
}

} // namespace audio
