#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "episode/CaptionWord.h"

namespace episode {

// A run of consecutive words shown together on screen.
struct CaptionCue {
    std::vector<CaptionWord> words; // in time order

    // Start of the first word; 0 without words.
    double start() const { return words.empty() ? 0 : words.front().start; }
    // End of the last word; 0 without words.
    double end() const { return words.empty() ? 0 : words.back().end; }
    // The words' texts joined by single blanks.
    std::string text() const {
        std::string out;
        for (std::size_t i = 0; i < words.size(); ++i) {
            if (i) out += ' ';
            out += words[i].text;
        }
        return out;
    }

    bool operator==(const CaptionCue&) const = default;
};

} // namespace episode
