#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "audio/SpeechFrame.h"
#include "episode/CaptionWord.h"

namespace episode {

// Decides which stretches of an episode to cut so that spoken fillers, stuttered
// repeats of short words and fillers hidden inside a stretched word go away,
// and how the remaining words are re-timed and touched up. Cuts no audio.
class FillerRemover {
public:
    FillerRemover() = delete;

    using SpeechFrame = audio::SpeechFrame;

    // One frame is 20 ms of 16 kHz mono audio; frame f covers f × 0.02 s up to
    // (f + 1) × 0.02 s.
    static constexpr double frameSeconds = 0.02;

    // A half-open stretch of time in seconds.
    struct TimeRange {
        double lower = 0;
        double upper = 0;
        bool operator==(const TimeRange&) const = default;
    };

    struct Plan {
        std::vector<TimeRange> cuts;        // uncut time, ascending, apart by more than 0.02 s
        std::vector<CaptionWord> words;     // kept words, timed on the cut audio
        std::map<std::string, int> removed; // per kind ("um", "uh", "repeated words", ...)

        int count() const;
        double secondsRemoved() const;
        bool operator==(const Plan&) const = default;
    };

    // The words whose immediate repetition counts as a stutter.
    static const std::vector<std::string>& stutterWords();

    // Lower-cased, trimmed of punctuation and blanks, with "’" as "'".
    static std::string normalized(std::string_view text);
    // Whether a normalised word is a filler ("um", "uhh", "er", "hmm", "mm"...).
    static bool isFiller(std::string_view normalizedText);

    static Plan plan(const std::vector<CaptionWord>& words, bool removeRepeats,
                     const std::vector<TimeRange>& hiddenFillers);

    // Filler sounds held inside a word that the recogniser stretched over them,
    // in word order.
    static std::vector<TimeRange> hiddenFillerCuts(const std::vector<CaptionWord>& words,
                                                   const std::vector<SpeechFrame>& frames);
};

} // namespace episode
