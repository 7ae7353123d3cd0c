#pragma once

// PocketSphinx decoders shared by every transcription of the process.
// Internal to the module.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "episode/Transcriber.h"

struct ps_decoder_s;

namespace episode {

// A decoder holds its own copy of the language model and lexicon tree
// (about 80 MB), so the process keeps one set of them for all items running
// at once: decoders are made on demand up to the pool's capacity and handed
// out one utterance at a time. They are freed when the last transcription
// using the pool ends, so the steps after it (encoders, the audiogram) don't
// run beside them. A decoder comes back to the state of a fresh
// one at the start of every utterance (`Lease::restart`), so which decoder
// decodes which utterance, and after what, never changes the words.
class DecoderPool {
public:
    // One decoder in use; given back when the lease ends.
    class Lease {
    public:
        Lease(DecoderPool& pool, ps_decoder_s* decoder) : pool_(&pool), decoder_(decoder) {}
        Lease(Lease&& other) noexcept : pool_(other.pool_), decoder_(other.decoder_) { other.decoder_ = nullptr; }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Lease& operator=(Lease&&) = delete;
        ~Lease();

        ps_decoder_s* get() const { return decoder_; }
        // Resets the stream state (frame counters, the acoustic scorer's
        // history) so the next utterance decodes as on a new decoder.
        void restart() const;

    private:
        DecoderPool* pool_;
        ps_decoder_s* decoder_;
    };

    // One transcription's use of the pool: decoders stay loaded while any
    // use lasts, and the idle ones are freed when the last one ends.
    class Use {
    public:
        explicit Use(DecoderPool& pool);
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        DecoderPool& pool_;
    };

    // The pool of the given model, made on first use and kept for the
    // process's lifetime.
    static DecoderPool& shared(const Transcriber::SpeechModel& model);

    // At most one decoder per core, and at most kMaxDecoders (memory).
    static std::size_t defaultCapacity();
    static constexpr std::size_t kMaxDecoders = 5;

    DecoderPool(Transcriber::SpeechModel model, std::size_t capacity);
    ~DecoderPool();
    DecoderPool(const DecoderPool&) = delete;
    DecoderPool& operator=(const DecoderPool&) = delete;

    // Waits for a free decoder, making one when fewer than the capacity
    // exist. Throws TranscriberError::unsupportedSystem when the model
    // cannot be loaded.
    Lease acquire();

    std::size_t capacity() const { return capacity_; }
    // Decoders loaded now (never more than the capacity).
    std::size_t decodersMade() const;

    // The model's dictionary entries (alternative pronunciations included)
    // whose word the language model knows, in the dictionary's order: the
    // search never proposes any other word, so decoders given only these
    // find the same words in about 12 MB less each. Empty when the language
    // model or the dictionary cannot be read.
    static std::string vocabularyDictionary(const Transcriber::SpeechModel& model);

private:
    void giveBack(ps_decoder_s* decoder);
    // The dictionary file the decoders load; called with mutex_ held.
    const std::string& dictionaryPath();

    Transcriber::SpeechModel model_;
    std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable available_;
    std::vector<ps_decoder_s*> idle_;
    std::vector<ps_decoder_s*> all_;
    std::size_t reserved_ = 0; // made or being made
    std::size_t users_ = 0;    // uses that have not ended
    std::string dictionaryPath_;
    int dictionaryFile_ = -1;
};

} // namespace episode
