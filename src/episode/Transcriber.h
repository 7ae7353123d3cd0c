#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/Error.h"
#include "episode/CaptionCue.h"
#include "episode/CaptionWord.h"

namespace episode {

// Turns one audio file into timed words on this computer (PocketSphinx with
// the installed English model), and writes caption cues, SubRip, WebVTT and
// plain transcripts from such words.
class Transcriber {
public:
    // Where the speech model lives. The installed Debian model is the default.
    struct SpeechModel {
        std::filesystem::path acousticModel; // folder
        std::filesystem::path languageModel; // binary n-gram file
        std::filesystem::path dictionary;    // pronunciation dictionary

        static SpeechModel installed();
        // All three parts exist and can be read.
        bool isReadable() const;
        bool operator==(const SpeechModel&) const = default;
    };

    class TranscriberError : public core::Error {
    public:
        enum class Kind { unsupportedLanguage, unsupportedSystem, nothingRecognised };
        // "On-device transcription doesn't support the language <identifier>."
        static TranscriberError unsupportedLanguage(const std::string& identifier);
        // The speech model is not installed (names the package to install).
        static TranscriberError unsupportedSystem();
        // "No speech was recognised."
        static TranscriberError nothingRecognised();
        Kind kind() const { return kind_; }

    private:
        TranscriberError(Kind kind, const std::string& text) : core::Error(text), kind_(kind) {}
        Kind kind_;
    };

    Transcriber() : model_(SpeechModel::installed()) {}
    explicit Transcriber(SpeechModel model) : model_(std::move(model)) {}

    // True when the installed speech model can be read.
    static bool isSupported();
    // True when the locale's language is English ("C" and "POSIX" count as
    // English); an empty identifier stands for the user's current locale.
    static bool isSupportedLocale(std::string_view identifier);

    // Recognises the words of `file` in time order, punctuated (below).
    // Throws TranscriberError, or the audio reader's error unchanged. The
    // decoders are the process's shared ones (at most one per core), so
    // items transcribing at once take turns; `threads` (> 0) uses fewer.
    // The same file always gives the same words.
    std::vector<CaptionWord> transcribe(const std::filesystem::path& file, const std::string& locale,
                                        int threads = 0) const;

    // A pause this long between two words ends a sentence.
    static constexpr double kSentencePauseSeconds = 0.8;
    // The recogniser gives no punctuation: a full stop goes after every word
    // followed by a pause of at least kSentencePauseSeconds and after the
    // last word, and each sentence's first word (and the pronoun "i") is
    // capitalised.
    static std::vector<CaptionWord> punctuate(std::vector<CaptionWord> words);

    // Words whose text holds blanks become one word per piece, sharing the
    // span equally.
    static std::vector<CaptionWord> splitMultiWordRuns(const std::vector<CaptionWord>& words);

    // Groups words into cues of at most `maxCharacters` characters and
    // `maxDuration` seconds, breaking at pauses over 0.8 s and sentence ends.
    static std::vector<CaptionCue> cues(const std::vector<CaptionWord>& words, int maxCharacters,
                                        double maxDuration);
    // "HH:MM:SS<separator>mmm", negative times as zero.
    static std::string timestamp(double seconds, std::string_view separator);
    static std::string srt(const std::vector<CaptionCue>& cues, double offset);
    static std::string vtt(const std::vector<CaptionCue>& cues, double offset);
    static std::string plainText(const std::vector<CaptionWord>& words, double offset);

private:
    static std::string marker(double seconds);

    SpeechModel model_;
};

} // namespace episode
