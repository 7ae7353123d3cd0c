// Recognition with PocketSphinx: the audio is read at 16 kHz mono, split into
// utterances at pauses, and the utterances are decoded in parallel by the
// process's shared decoders. The audio is read twice (levels first, then the
// utterances one by one), so only the utterances waiting for a decoder are
// held in memory, whatever the length of the episode.

#include "episode/Transcriber.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/feat.h>
#include <unicode/locid.h>

#include "audio/PCMStream.h"
#include "core/Graphemes.h"
#include "core/Numbers.h"
#include "core/StopSignal.h"
#include "episode/DecoderPool.h"
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

std::int16_t toSample(float v) {
    const float scaled = std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) * 32767.0f : 0.0f;
    return static_cast<std::int16_t>(std::lrint(scaled));
}

// Reads the file at 16 kHz mono and hands on the samples as 16-bit values.
template <typename Sink>
void readSpeechAudio(const fs::path& file, Sink&& sink) {
    std::vector<std::int16_t> converted;
    audio::PCMStream::read(file, double(kSampleRate), 1, std::nullopt, [&](std::span<const float> chunk, std::size_t) {
        converted.resize(chunk.size());
        std::transform(chunk.begin(), chunk.end(), converted.begin(), toSample);
        sink(std::span<const std::int16_t>(converted));
    });
}

// Level of every 10 ms frame in dB (energy, floor 1e-10), from one read.
std::vector<float> frameLevels(const fs::path& file) {
    std::vector<float> levels;
    double energy = 0;
    std::size_t count = 0;
    readSpeechAudio(file, [&](std::span<const std::int16_t> samples) {
        for (std::int16_t s : samples) {
            const double v = s / 32768.0;
            energy += v * v;
            if (++count == kFrameSamples) {
                levels.push_back(static_cast<float>(10.0 * std::log10(energy / double(kFrameSamples) + 1e-10)));
                energy = 0;
                count = 0;
            }
        }
    });
    if (count > 0) levels.push_back(static_cast<float>(10.0 * std::log10(energy / double(count) + 1e-10)));
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


// A recognised token that is a word (not silence, noise or a filler mark),
// without any "(2)"-style pronunciation suffix and without the full stops of
// dictionary spellings ("x.", "a.m."), which are no sentence ends; empty
// otherwise.
std::string wordText(const char* token) {
    if (!token) return {};
    std::string text(token);
    if (text.empty() || text.front() == '<' || text.front() == '[' || text.rfind("++", 0) == 0) return {};
    if (text.back() == ')') {
        const auto open = text.rfind('(');
        if (open != std::string::npos) text.erase(open);
    }
    while (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

// The utterance's cepstra, made by the decoder's own front end as one call
// with the whole utterance makes them (all frames, then the tail's), and
// normalised by the utterance's own mean as the model asks (batch CMN). The
// decoder itself does no normalisation (DecoderPool), so these can be fed
// to it in blocks and still decode to the words of a whole-utterance call.
struct Cepstra {
    std::vector<mfcc_t> values;
    std::vector<mfcc_t*> frames;
};

Cepstra utteranceCepstra(ps_decoder_t* ps, std::span<const std::int16_t> samples) {
    Cepstra c;
    fe_t* fe = ps_get_fe(ps);
    feat_t* feat = ps_get_feat(ps);
    const auto width = static_cast<std::size_t>(fe_get_output_size(fe));
    fe_start_utt(fe);
    std::size_t left = samples.size();
    int32 count = 0;
    if (fe_process_frames(fe, nullptr, &left, nullptr, &count, nullptr) < 0 || count < 0) return c;
    c.values.resize((static_cast<std::size_t>(count) + 1) * width);
    for (std::size_t f = 0; f <= static_cast<std::size_t>(count); ++f) c.frames.push_back(&c.values[f * width]);
    const std::int16_t* data = samples.data();
    left = samples.size();
    if (fe_process_frames(fe, &data, &left, c.frames.data(), &count, nullptr) < 0) return {};
    int32 tail = 0;
    fe_end_utt(fe, c.frames[static_cast<std::size_t>(count)], &tail);
    c.frames.resize(static_cast<std::size_t>(count + tail));
    if (!c.frames.empty()) cmn(feat->cmn_struct, c.frames.data(), feat->varnorm, static_cast<int32>(c.frames.size()));
    return c;
}

// Decodes one utterance (its samples start at `firstFrame`) on a decoder
// brought back to its starting state first. The cepstra go to the search a
// few frames at a time, so that a quit is seen within 0.1 s of audio; a
// stopped utterance is ended, so the decoder goes back to the pool ready for
// the next one.
std::vector<CaptionWord> decodeUtterance(const DecoderPool::Lease& decoder, std::span<const std::int16_t> samples,
                                         std::size_t firstFrame) {
    std::vector<CaptionWord> words;
    ps_decoder_t* ps = decoder.get();
    decoder.restart();
    if (samples.empty() || ps_start_utt(ps) < 0) return words;
    Cepstra cepstra = utteranceCepstra(ps, samples);
    // A decoder fed piece by piece keeps the features of one cepstrum buffer
    // (a feature window, 2w+1 frames) beyond the frames its search still
    // looks back on: a larger piece would overwrite those.
    const auto window = static_cast<std::size_t>(feat_window_size(ps_get_feat(ps)));
    const std::size_t piece = 2 * window + 1;
    try {
        std::span<mfcc_t*> left(cepstra.frames);
        while (!left.empty()) {
            core::throwIfStopRequested();
            const std::size_t n = std::min(left.size(), piece);
            ps_process_cep(ps, left.data(), static_cast<int>(n), FALSE, FALSE);
            left = left.subspan(n);
        }
        // The last frame repeated over the feature window, as the end of a
        // whole utterance is padded, so that its last frames are searched too.
        if (!cepstra.frames.empty()) {
            std::vector<mfcc_t*> padding(window, cepstra.frames.back());
            ps_process_cep(ps, padding.data(), static_cast<int>(padding.size()), FALSE, FALSE);
        }
    } catch (...) {
        ps_end_utt(ps);
        throw;
    }
    ps_end_utt(ps);
    const double offset = double(firstFrame) / kFramesPerSecond;
    for (ps_seg_t* seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
        std::string text = wordText(ps_seg_word(seg));
        if (text.empty()) continue;
        int startFrame = 0, endFrame = 0;
        ps_seg_frames(seg, &startFrame, &endFrame); // the end frame is inclusive
        words.push_back({std::move(text), offset + startFrame / kFramesPerSecond,
                         offset + (endFrame + 1) / kFramesPerSecond});
    }
    return words;
}

// Utterances cut from the second read, waiting for a worker. Bounded, so the
// reader waits when the decoders are behind.
class UtteranceQueue {
public:
    struct Job {
        std::size_t index = 0;
        std::size_t firstFrame = 0;
        std::vector<std::int16_t> samples;
    };

    explicit UtteranceQueue(std::size_t limit) : limit_(std::max<std::size_t>(1, limit)) {}

    // False when the work was stopped.
    bool push(Job job) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return jobs_.size() < limit_ || stopped_; });
        if (stopped_) return false;
        jobs_.push_back(std::move(job));
        changed_.notify_all();
        return true;
    }
    // Nothing when closed and empty, or stopped.
    std::optional<Job> pop() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !jobs_.empty() || closed_ || stopped_; });
        if (stopped_ || jobs_.empty()) return std::nullopt;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        changed_.notify_all();
        return job;
    }
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    // Keeps the first failure and stops everyone.
    void fail(std::exception_ptr e) {
        std::lock_guard lock(mutex_);
        if (!failure_) failure_ = e;
        stopped_ = true;
        jobs_.clear();
        changed_.notify_all();
    }
    std::exception_ptr failure() const {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    std::size_t limit_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    bool closed_ = false;
    bool stopped_ = false;
    std::exception_ptr failure_;
};

// The second read: cuts the utterances out of the stream in time order.
void feedUtterances(const fs::path& file, const std::vector<Utterance>& utterances, UtteranceQueue& queue) {
    std::vector<std::int16_t> held; // samples from frame `heldFrom` on
    std::size_t heldFrom = 0;       // in samples
    std::size_t next = 0;
    auto cutReady = [&](bool atEnd) {
        while (next < utterances.size()) {
            const Utterance& u = utterances[next];
            const std::size_t begin = u.firstFrame * kFrameSamples;
            const std::size_t end = u.endFrame * kFrameSamples;
            if (!atEnd && heldFrom + held.size() < end) return true;
            const std::size_t from = std::clamp(begin, heldFrom, heldFrom + held.size()) - heldFrom;
            const std::size_t to = std::clamp(end, heldFrom, heldFrom + held.size()) - heldFrom;
            UtteranceQueue::Job job{next, u.firstFrame, {held.begin() + std::ptrdiff_t(from), held.begin() + std::ptrdiff_t(to)}};
            if (!queue.push(std::move(job))) return false;
            ++next;
            // Nothing before the next utterance is needed again.
            const std::size_t keepFrom = next < utterances.size()
                                             ? std::min(utterances[next].firstFrame * kFrameSamples, heldFrom + held.size())
                                             : heldFrom + held.size();
            if (keepFrom > heldFrom) {
                held.erase(held.begin(), held.begin() + std::ptrdiff_t(keepFrom - heldFrom));
                heldFrom = keepFrom;
            }
        }
        return true;
    };
    struct Stop {};
    try {
        readSpeechAudio(file, [&](std::span<const std::int16_t> samples) {
            // Samples before the next utterance are never held.
            std::size_t skip = 0;
            if (held.empty() && next < utterances.size()) {
                const std::size_t begin = utterances[next].firstFrame * kFrameSamples;
                if (begin > heldFrom) skip = std::min(samples.size(), begin - heldFrom);
                heldFrom += skip;
            }
            if (next >= utterances.size()) throw Stop{};
            held.insert(held.end(), samples.begin() + std::ptrdiff_t(skip), samples.end());
            if (!cutReady(false)) throw Stop{};
        });
        cutReady(true);
    } catch (const Stop&) {
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

    const std::vector<Utterance> utterances = splitIntoUtterances(frameLevels(file));
    DecoderPool& pool = DecoderPool::shared(model_);
    const DecoderPool::Use use(pool);
    std::size_t workers = std::min(pool.capacity(), utterances.size());
    if (threads > 0) workers = std::min(workers, static_cast<std::size_t>(threads));

    // Each utterance's words land in its own slot, so the result is in time
    // order whichever worker finished first.
    std::vector<std::vector<CaptionWord>> found(utterances.size());
    UtteranceQueue queue(2 * workers);
    std::vector<std::thread> workerThreads;
    for (std::size_t t = 0; t < workers; ++t)
        workerThreads.emplace_back([&] {
            try {
                while (auto job = queue.pop()) {
                    // A quit ends the recognition between two utterances or
                    // inside one (the reads above end between two packets).
                    core::throwIfStopRequested();
                    const DecoderPool::Lease decoder = pool.acquire();
                    found[job->index] = decodeUtterance(decoder, job->samples, job->firstFrame);
                }
            } catch (...) {
                queue.fail(std::current_exception());
            }
        });
    try {
        feedUtterances(file, utterances, queue);
    } catch (...) {
        queue.fail(std::current_exception());
    }
    queue.close();
    for (auto& t : workerThreads) t.join();
    if (auto failure = queue.failure()) std::rethrow_exception(failure);

    std::vector<CaptionWord> words;
    for (auto& part : found) words.insert(words.end(), part.begin(), part.end());
    words = punctuate(splitMultiWordRuns(words));
    if (words.empty()) throw TranscriberError::nothingRecognised();
    return words;
}

std::vector<CaptionWord> Transcriber::punctuate(std::vector<CaptionWord> words) {
    bool sentenceStart = true;
    for (std::size_t i = 0; i < words.size(); ++i) {
        CaptionWord& w = words[i];
        if (w.text.empty()) continue;
        if (sentenceStart || w.text == "i" || w.text.rfind("i'", 0) == 0) w.text = core::uppercaseFirst(w.text);
        const bool last = i + 1 == words.size();
        sentenceStart = last || words[i + 1].start - w.end >= kSentencePauseSeconds;
        if (sentenceStart && w.text.back() != '.' && w.text.back() != '?' && w.text.back() != '!') w.text += '.';
    }
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
