#include "episode/DecoderPool.h"

#include <algorithm>
#include <map>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <unordered_set>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/logmath.h>
#include <sphinxbase/ngram_model.h>

#include <fmt/format.h>

#include "core/Numbers.h"

namespace episode {

namespace {

// The library's own log goes nowhere. This is its one process-wide setting,
// made once before the first decoder.
void silenceDecoderLog() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

// The dictionary word of an entry's first field: "read(2)" is "read".
std::string_view entryWord(std::string_view field) {
    if (field.size() > 3 && field.back() == ')') {
        const auto open = field.rfind('(');
        if (open != std::string_view::npos && open > 0 && open + 2 < field.size() &&
            std::all_of(field.begin() + std::ptrdiff_t(open + 1), field.end() - 1,
                        [](char c) { return c >= '0' && c <= '9'; }))
            return field.substr(0, open);
    }
    return field;
}

ps_decoder_t* makeDecoder(const Transcriber::SpeechModel& model, const std::string& dict) {
    silenceDecoderLog();
    const std::string hmm = model.acousticModel.string();
    const std::string lm = model.languageModel.string();
    // Tuned for speed: a wider phone look-ahead, fewer active HMMs per frame,
    // a narrower phone beam, at most 20 words ending per frame and no second
    // flat-lexicon pass (the lattice's best path is kept). The feature front
    // end keeps every frame (no silence removal) so that frame numbers stay
    // times.
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE,   //
                                   "-hmm", hmm.c_str(),         //
                                   "-lm", lm.c_str(),           //
                                   "-dict", dict.c_str(),       //
                                   "-remove_silence", "no",     //
                                   "-samprate", "16000",        //
                                   "-pl_window", "10",          //
                                   "-maxhmmpf", "2500",         //
                                   "-pbeam", "1e-40",           //
                                   "-maxwpf", "20",             //
                                   "-fwdflat", "no",            //
                                   nullptr);
    if (!config) return nullptr;
    ps_default_search_args(config);
    ps_decoder_t* ps = ps_init(config);
    cmd_ln_free_r(config); // the decoder holds its own reference
    if (!ps) return nullptr;
    // The model normalises each utterance by its own cepstral mean. The
    // transcriber does that itself and feeds the normalised cepstra in
    // blocks (so that a quit is seen inside an utterance); block input would
    // make the decoder switch to a running mean of its own, so it does none.
    feat_t* feat = ps_get_feat(ps);
    if (feat->cmn != CMN_BATCH || feat->agc != AGC_NONE || !feat->cmn_struct) {
        ps_free(ps);
        return nullptr;
    }
    feat->cmn = CMN_NONE;
    return ps;
}

} // namespace

std::string DecoderPool::vocabularyDictionary(const Transcriber::SpeechModel& model) {
    silenceDecoderLog();
    std::unordered_set<std::string> vocabulary;
    {
        logmath_t* lmath = logmath_init(1.0001, 0, 0);
        if (!lmath) return {};
        ngram_model_t* lm = ngram_model_read(nullptr, model.languageModel.c_str(), NGRAM_AUTO, lmath);
        if (lm) {
            const std::uint32_t unigrams = ngram_model_get_counts(lm)[0];
            vocabulary.reserve(unigrams);
            for (std::uint32_t i = 0; i < unigrams; ++i)
                if (const char* w = ngram_word(lm, static_cast<int32>(i))) vocabulary.emplace(w);
            ngram_model_free(lm);
        }
        logmath_free(lmath);
    }
    if (vocabulary.empty()) return {};
    std::ifstream in(model.dictionary, std::ios::binary);
    if (!in) return {};
    std::string out, line;
    while (std::getline(in, line)) {
        const std::string_view entry(line);
        const auto end = entry.find_first_of(" \t");
        if (end == 0 || end == std::string_view::npos) continue;
        if (vocabulary.count(std::string(entryWord(entry.substr(0, end))))) {
            out += line;
            out += '\n';
        }
    }
    if (in.bad()) return {};
    return out;
}

const std::string& DecoderPool::dictionaryPath() {
    // Made once per pool, before its first decoder; kept in an anonymous
    // in-memory file the decoders open through /proc, so nothing is left
    // on disk. The full dictionary is used when any of this fails.
    if (!dictionaryPath_.empty()) return dictionaryPath_;
    dictionaryPath_ = model_.dictionary.string();
    const std::string trimmed = vocabularyDictionary(model_);
    if (trimmed.empty()) return dictionaryPath_;
    const int fd = ::memfd_create("quorvel-dictionary", MFD_CLOEXEC);
    if (fd < 0) return dictionaryPath_;
    std::size_t written = 0;
    while (written < trimmed.size()) {
        const ssize_t n = ::write(fd, trimmed.data() + written, trimmed.size() - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    if (written != trimmed.size()) {
        ::close(fd);
        return dictionaryPath_;
    }
    dictionaryFile_ = fd;
    dictionaryPath_ = fmt::format("/proc/self/fd/{}", fd);
    return dictionaryPath_;
}

DecoderPool::Lease::~Lease() {
    if (decoder_) pool_->giveBack(decoder_);
}

void DecoderPool::Lease::restart() const { ps_start_stream(decoder_); }

std::size_t DecoderPool::defaultCapacity() {
    const int cores = std::max(1, core::activeProcessorCount());
    return std::min<std::size_t>(static_cast<std::size_t>(cores), kMaxDecoders);
}

DecoderPool& DecoderPool::shared(const Transcriber::SpeechModel& model) {
    static std::mutex mutex;
    // Pools live until the process ends (never destroyed, so no decoder is
    // freed under a thread still finishing at exit).
    static auto* pools = new std::map<std::string, std::unique_ptr<DecoderPool>>();
    const std::string key =
        model.acousticModel.string() + '\n' + model.languageModel.string() + '\n' + model.dictionary.string();
    std::lock_guard lock(mutex);
    auto& pool = (*pools)[key];
    if (!pool) pool = std::make_unique<DecoderPool>(model, defaultCapacity());
    return *pool;
}

DecoderPool::Use::Use(DecoderPool& pool) : pool_(pool) {
    std::lock_guard lock(pool_.mutex_);
    ++pool_.users_;
}

DecoderPool::Use::~Use() {
    std::vector<ps_decoder_t*> unused;
    {
        std::lock_guard lock(pool_.mutex_);
        if (--pool_.users_ > 0) return;
        // Leases outside any use (direct acquire) keep their decoders.
        unused.swap(pool_.idle_);
        for (ps_decoder_t* ps : unused) std::erase(pool_.all_, ps);
        pool_.reserved_ -= unused.size();
    }
    for (ps_decoder_t* ps : unused) ps_free(ps);
}

DecoderPool::DecoderPool(Transcriber::SpeechModel model, std::size_t capacity)
    : model_(std::move(model)), capacity_(std::max<std::size_t>(1, capacity)) {}

DecoderPool::~DecoderPool() {
    for (ps_decoder_t* ps : all_) ps_free(ps);
    if (dictionaryFile_ >= 0) ::close(dictionaryFile_);
}

std::size_t DecoderPool::decodersMade() const {
    std::lock_guard lock(mutex_);
    return all_.size();
}

DecoderPool::Lease DecoderPool::acquire() {
    std::unique_lock lock(mutex_);
    available_.wait(lock, [&] { return !idle_.empty() || reserved_ < capacity_; });
    if (!idle_.empty()) {
        ps_decoder_t* ps = idle_.back();
        idle_.pop_back();
        return Lease(*this, ps);
    }
    ++reserved_;
    const std::string dict = dictionaryPath(); // the first caller makes it, under the lock
    lock.unlock();
    // Loading takes a while; others may take idle decoders meanwhile.
    ps_decoder_t* ps = makeDecoder(model_, dict);
    lock.lock();
    if (!ps) {
        --reserved_;
        available_.notify_one();
        throw Transcriber::TranscriberError::unsupportedSystem();
    }
    all_.push_back(ps);
    return Lease(*this, ps);
}

void DecoderPool::giveBack(ps_decoder_t* decoder) {
    {
        std::lock_guard lock(mutex_);
        idle_.push_back(decoder);
    }
    available_.notify_one();
}

} // namespace episode
