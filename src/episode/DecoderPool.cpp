#include "episode/DecoderPool.h"

#include <algorithm>
#include <map>
#include <string>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include "core/Numbers.h"

namespace episode {

namespace {

// The library's own log goes nowhere. This is its one process-wide setting,
// made once before the first decoder.
void silenceDecoderLog() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

ps_decoder_t* makeDecoder(const Transcriber::SpeechModel& model) {
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
    return ps;
}

} // namespace

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
    lock.unlock();
    // Loading takes a while; others may take idle decoders meanwhile.
    ps_decoder_t* ps = makeDecoder(model_);
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
