// Recognition with PocketSphinx: the audio is read at 16 kHz mono, split into
// utterances at pauses and the utterances are decoded in parallel, one
// decoder per worker thread.

#include "episode/Transcriber.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <unicode/locid.h>

#include "audio/PCMStream.h"
#include "core/Numbers.h"
#include "episode/PlatformTexts.h"

namespace episode {

namespace fs = std::filesystem;

namespace {

constexpr int kSampleRate = 16000;
constexpr std::size_t kFrameSamples = 160;  // one 10 ms frame, the decoder's frame rate
constexpr double kFramesPerSecond = 100.0;
constexpr std::size_t kMinPauseFrames = 30; // a pause of 0.3 s splits utterances
constexpr std::size_t kPadFrames = 15;      // silence kept around an utterance
constexpr std::size_t kMaxUtteranceFrames = 2000; // 20 s
constexpr std::size_t kMinSplitFrames = 1000;     // a long utterance is split after 10 s at the earliest

// One stretch of the audio handed to a decoder, in 10 ms frames.
struct Utterance {
    std::size_t firstFrame = 0;
    std::size_t endFrame = 0; // exclusive
};

bool isReadableFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec) && ::access(p.c_str(), R_OK) == 0;
}

std::vector<std::int16_t> readSpeechAudio(const fs::path& file) {
    std::vector<std::int16_t> samples;
    // Room for the whole file up front (the duration is only a hint).
    const double expected = audio::PCMStream::format(file).durationSeconds * kSampleRate;
    if (const auto frames = core::toInt64(expected); frames && *frames > 0 && *frames < (std::int64_t(1) << 32))
        samples.reserve(static_cast<std::size_t>(*frames) + kSampleRate);
    audio::PCMStream::read(file, double(kSampleRate), 1, std::nullopt,
                           [&](std::span<const float> chunk, std::size_t) {
                               for (float v : chunk) {
                                   const float scaled = std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) * 32767.0f : 0.0f;
                                   samples.push_back(static_cast<std::int16_t>(std::lrint(scaled)));
                               }
                           });
    return samples;
}

// Level of every 10 ms frame in dB (energy, floor 1e-10).
std::vector<float> frameLevels(const std::vector<std::int16_t>& samples) {
    const std::size_t frames = samples.size() / kFrameSamples + (samples.size() % kFrameSamples ? 1 : 0);
    std::vector<float> levels(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t begin = f * kFrameSamples;
        const std::size_t end = std::min(begin + kFrameSamples, samples.size());
        double energy = 0;
        for (std::size_t i = begin; i < end; ++i) {
            const double v = samples[i] / 32768.0;
            energy += v * v;
        }
        energy /= double(end - begin);
        levels[f] = static_cast<float>(10.0 * std::log10(energy + 1e-10));
    }
    return levels;
}

float percentile(std::vector<float> values, double share) {
    if (values.empty()) return -100.0f;
    const auto k = static_cast<std::size_t>(share * double(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

// Voiced stretches separated by pauses, padded with a little silence and cut
// at their quietest frame when they grow longer than the upper bound.
std::vector<Utterance> splitIntoUtterances(const std::vector<float>& levels) {
    std::vector<Utterance> out;
    if (levels.empty()) return out;
    const float floor = percentile(levels, 0.10);
    const float loud = percentile(levels, 0.95);
    const float threshold = std::max({floor + 6.0f, loud - 35.0f, -55.0f});

    // Voiced stretches, joined across pauses shorter than the minimum.
    std::vector<Utterance> stretches;
    std::size_t f = 0;
    const std::size_t n = levels.size();
    while (f < n) {
        while (f < n && levels[f] <= threshold) ++f;
        if (f == n) break;
        Utterance u{f, f};
        std::size_t quiet = 0;
        while (f < n && quiet < kMinPauseFrames) {
            if (levels[f] > threshold) {
                quiet = 0;
                u.endFrame = f + 1;
            } else {
                ++quiet;
            }
            ++f;
        }
        stretches.push_back(u);
    }

    for (std::size_t i = 0; i < stretches.size(); ++i) {
        const std::size_t lowLimit = i == 0 ? 0 : (stretches[i - 1].endFrame + stretches[i].firstFrame) / 2;
        const std::size_t highLimit =
            i + 1 == stretches.size() ? n : (stretches[i].endFrame + stretches[i + 1].firstFrame) / 2;
        std::size_t begin = std::max(lowLimit, stretches[i].firstFrame >= kPadFrames ? stretches[i].firstFrame - kPadFrames : 0);
        const std::size_t end = std::min(highLimit, stretches[i].endFrame + kPadFrames);
        while (end - begin > kMaxUtteranceFrames) {
            // Split at the quietest frame between 10 s and 20 s.
            std::size_t cut = begin + kMinSplitFrames;
            for (std::size_t k = cut; k < begin + kMaxUtteranceFrames; ++k)
                if (levels[k] < levels[cut]) cut = k;
            out.push_back({begin, cut});
            begin = cut;
        }
        out.push_back({begin, end});
    }
    return out;
}

// The library's own log goes nowhere. This is its one process-wide setting,
// made once before the first decoder; decoders themselves share nothing and
// are made and used on their own threads.
void silenceDecoderLog() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

struct DecoderDeleter {
    void operator()(ps_decoder_t* ps) const { ps_free(ps); }
};
using Decoder = std::unique_ptr<ps_decoder_t, DecoderDeleter>;

Decoder makeDecoder(const Transcriber::SpeechModel& model) {
    silenceDecoderLog();
    const std::string hmm = model.acousticModel.string();
    const std::string lm = model.languageModel.string();
    const std::string dict = model.dictionary.string();
    // Tuned for speed: a wider phone look-ahead, fewer active HMMs per frame
    // and no second flat-lexicon pass (the lattice's best path is kept). The
    // feature front end keeps every frame (no silence removal) so that frame
    // numbers stay times.
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE,   //
                                   "-hmm", hmm.c_str(),         //
                                   "-lm", lm.c_str(),           //
                                   "-dict", dict.c_str(),       //
                                   "-remove_silence", "no",     //
                                   "-samprate", "16000",        //
                                   "-pl_window", "10",          //
                                   "-maxhmmpf", "2500",         //
                                   "-fwdflat", "no",            //
                                   nullptr);
    if (!config) return nullptr;
    ps_default_search_args(config);
    ps_decoder_t* ps = ps_init(config);
    cmd_ln_free_r(config); // the decoder holds its own reference
    return Decoder(ps);
}

// A recognised token that is a word (not silence, noise or a filler mark),
// without any "(2)"-style pronunciation suffix; empty otherwise.
std::string wordText(const char* token) {
    if (!token) return {};
    std::string text(token);
    if (text.empty() || text.front() == '<' || text.front() == '[' || text.rfind("++", 0) == 0) return {};
    if (text.back() == ')') {
        const auto open = text.rfind('(');
        if (open != std::string::npos) text.erase(open);
    }
    return text;
}

void decodeUtterance(ps_decoder_t* ps, const std::vector<std::int16_t>& samples, const Utterance& u,
                     std::vector<CaptionWord>& words) {
    const std::size_t begin = u.firstFrame * kFrameSamples;
    const std::size_t end = std::min(u.endFrame * kFrameSamples, samples.size());
    if (end <= begin) return;
    if (ps_start_utt(ps) < 0) return;
    ps_process_raw(ps, samples.data() + begin, end - begin, FALSE, TRUE);
    ps_end_utt(ps);
    const double offset = double(u.firstFrame) / kFramesPerSecond;
    for (ps_seg_t* seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
        std::string text = wordText(ps_seg_word(seg));
        if (text.empty()) continue;
        int startFrame = 0, endFrame = 0;
        ps_seg_frames(seg, &startFrame, &endFrame); // the end frame is inclusive
        words.push_back({std::move(text), offset + startFrame / kFramesPerSecond,
                         offset + (endFrame + 1) / kFramesPerSecond});
    }
}

// The language part of a locale identifier ("en_US.UTF-8" gives "en").
std::string languageOf(std::string_view identifier) {
    const auto stop = identifier.find_first_of("_-.@");
    std::string language(identifier.substr(0, stop));
    for (auto& c : language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return language;
}

std::string currentLocaleIdentifier() { return icu::Locale::getDefault().getName(); }

} // namespace

Transcriber::TranscriberError Transcriber::TranscriberError::unsupportedLanguage(const std::string& identifier) {
    return {Kind::unsupportedLanguage, "On-device transcription doesn't support the language " + identifier + "."};
}
Transcriber::TranscriberError Transcriber::TranscriberError::unsupportedSystem() {
    return {Kind::unsupportedSystem, std::string(platformtexts::kSpeechModelMissing)};
}
Transcriber::TranscriberError Transcriber::TranscriberError::nothingRecognised() {
    return {Kind::nothingRecognised, "No speech was recognised."};
}

Transcriber::SpeechModel Transcriber::SpeechModel::installed() {
    const fs::path root = "/usr/share/pocketsphinx/model/en-us";
    return {root / "en-us", root / "en-us.lm.bin", root / "cmudict-en-us.dict"};
}

bool Transcriber::SpeechModel::isReadable() const {
    std::error_code ec;
    return fs::is_directory(acousticModel, ec) && isReadableFile(acousticModel / "mdef") &&
           isReadableFile(languageModel) && isReadableFile(dictionary);
}

bool Transcriber::isSupported() { return SpeechModel::installed().isReadable(); }

bool Transcriber::isSupportedLocale(std::string_view identifier) {
    const std::string language = languageOf(identifier.empty() ? currentLocaleIdentifier() : identifier);
    return language == "en" || language == "eng" || language == "c" || language == "posix";
}

std::vector<CaptionWord> Transcriber::transcribe(const fs::path& file, const std::string& locale,
                                                 int threads) const {
    if (!model_.isReadable()) throw TranscriberError::unsupportedSystem();
    if (!isSupportedLocale(locale))
        throw TranscriberError::unsupportedLanguage(locale.empty() ? currentLocaleIdentifier() : locale);

    const std::vector<std::int16_t> samples = readSpeechAudio(file);
    const std::vector<Utterance> utterances = splitIntoUtterances(frameLevels(samples));

    std::vector<std::vector<CaptionWord>> found(utterances.size());
    const int wanted = threads > 0 ? threads : core::activeProcessorCount();
    const std::size_t workers = std::min<std::size_t>(static_cast<std::size_t>(wanted), utterances.size());
    // Longest utterances first, so that no worker is left with a long one at the end.
    std::vector<std::size_t> order(utterances.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return utterances[a].endFrame - utterances[a].firstFrame > utterances[b].endFrame - utterances[b].firstFrame;
    });
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto work = [&] {
        try {
            Decoder decoder = makeDecoder(model_);
            if (!decoder) throw TranscriberError::unsupportedSystem();
            for (std::size_t k = next++; k < order.size() && !failed; k = next++)
                decodeUtterance(decoder.get(), samples, utterances[order[k]], found[order[k]]);
        } catch (...) {
            std::lock_guard lock(failureMutex);
            if (!failure) failure = std::current_exception();
            failed = true;
        }
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < workers; ++t) pool.emplace_back(work);
    if (workers > 0) work();
    for (auto& t : pool) t.join();
    if (failure) std::rethrow_exception(failure);

    std::vector<CaptionWord> words;
    for (auto& part : found) words.insert(words.end(), part.begin(), part.end());
    words = splitMultiWordRuns(words);
    if (words.empty()) throw TranscriberError::nothingRecognised();
    return words;
}

std::vector<CaptionWord> Transcriber::splitMultiWordRuns(const std::vector<CaptionWord>& words) {
    std::vector<CaptionWord> out;
    out.reserve(words.size());
    for (const auto& w : words) {
        std::vector<std::string> pieces;
        std::size_t pos = 0;
        while (pos <= w.text.size()) {
            const std::size_t blank = std::min(w.text.find(' ', pos), w.text.size());
            if (blank > pos) pieces.push_back(w.text.substr(pos, blank - pos));
            pos = blank + 1;
        }
        if (pieces.size() < 2) {
            out.push_back(w);
            continue;
        }
        const double step = (w.end - w.start) / double(pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i)
            out.push_back({pieces[i], w.start + double(i) * step, w.start + double(i + 1) * step});
    }
    return out;
}

} // namespace episode
