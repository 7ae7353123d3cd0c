#pragma once

#include <string>

namespace episode {

// One recognised word with its time span in seconds.
struct CaptionWord {
    std::string text;
    double start = 0;
    double end = 0;

    bool operator==(const CaptionWord&) const = default;
};

// A word that ends a sentence: its last character is ".", "?" or "!".
inline bool endsSentence(const std::string& word) {
    return !word.empty() && (word.back() == '.' || word.back() == '?' || word.back() == '!');
}

} // namespace episode
