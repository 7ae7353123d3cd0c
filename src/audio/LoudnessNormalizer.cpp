#include "audio/LoudnessNormalizer.h"

#include <algorithm>
#include <cmath>

#include "audio/CleanupRender.h"

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

    for (int pass = 0; pass < kMaxCorrections; ++pass) {
        const auto corrected = correctedGain(gain, measuredLevel(last, target), target.integratedLUFS);
        if (!corrected) break;
        gain = *corrected;
        last = CleanupRender::render(source, destination, analysis, plan, cleanup, gain, target);
    }
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
        result.acxReport = ACXReport{last.rmsDB, last.samplePeakDB, last.noiseFloorDB, analysis.sampleRate};
    return result;
}

LoudnessNormalizer::Result LoudnessNormalizer::normalize(const std::filesystem::path& source,
                                                         const std::filesystem::path& destination,
                                                         const LoudnessTarget& target) const
{
    return process(source, destination, target, CleanupOptions::none());
}

LoudnessNormalizer::Measurement LoudnessNormalizer::measure(const std::filesystem::path& file) const
{
    return inputMeasurement(AudioAnalysis::analyze(file, false));
}

} // namespace audio
