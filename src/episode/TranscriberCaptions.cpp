// Caption cues and the three transcript texts (SubRip, WebVTT, plain).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include <fmt/format.h>

#include "core/Graphemes.h"
#include "core/Numbers.h"
#include "episode/Transcriber.h"

namespace episode {

namespace {

// Line breaks inside cue text would end a caption block early (a blank line
// separates blocks), so every line break is shown as a blank.
std::string withoutLineBreaks(std::string text) {
    for (auto& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

std::string escapeVtt(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

// Written cue times: at least 0.3 s on screen; an empty cue runs 0 to 0.3.
std::pair<double, double> cueTimes(const CaptionCue& cue, double offset) {
    const double start = cue.start();
    const double end = std::max(cue.end(), start + 0.3);
    return {start + offset, end + offset};
}

// Whole seconds of a non-negative time, safe for any double.
std::int64_t wholeSeconds(double t) {
    return core::clampToInt64(std::floor(std::max(t, 0.0)));
}

} // namespace

std::vector<CaptionCue> Transcriber::cues(const std::vector<CaptionWord>& words, int maxCharacters,
                                          double maxDuration) {
    std::vector<CaptionCue> out;
    CaptionCue current;
    std::int64_t currentLength = 0; // sum over the current words of (characters + 1)
    for (const auto& w : words) {
        const auto wordLength = static_cast<std::int64_t>(core::graphemeCount(w.text));
        if (!current.words.empty()) {
            const auto& first = current.words.front();
            const auto& last = current.words.back();
            const std::int64_t length = currentLength + wordLength;
            const double span = w.end - first.start;
            const double gap = w.start - last.end;
            const bool sentenceEnd = endsSentence(last.text);
            if (length > maxCharacters || span > maxDuration || gap > 0.8 ||
                (sentenceEnd && current.words.size() >= 2)) {
                out.push_back(std::move(current));
                current = CaptionCue{};
                currentLength = 0;
            }
        }
        current.words.push_back(w);
        currentLength += wordLength + 1;
    }
    if (!current.words.empty()) out.push_back(std::move(current));
    return out;
}

std::string Transcriber::timestamp(double seconds, std::string_view separator) {
    // Nearest millisecond, halves away from zero; clamped so no time can
    // overflow the integer.
    const std::int64_t ms = core::clampToInt64(std::round(std::max(seconds, 0.0) * 1000.0));
    const std::int64_t hours = ms / 3600000;
    const std::int64_t minutes = ms / 60000 - hours * 60;
    const std::int64_t secs = ms / 1000 - (ms / 60000) * 60;
    return fmt::format("{:02d}:{:02d}:{:02d}{}{:03d}", hours, minutes, secs, separator, ms % 1000);
}

std::string Transcriber::srt(const std::vector<CaptionCue>& cues, double offset) {
    std::string out;
    for (std::size_t i = 0; i < cues.size(); ++i) {
        if (i) out += '\n';
        const auto [start, end] = cueTimes(cues[i], offset);
        out += fmt::format("{}\n{} --> {}\n{}\n", i + 1, timestamp(start, ","), timestamp(end, ","),
                           withoutLineBreaks(cues[i].text()));
    }
    return out;
}

std::string Transcriber::vtt(const std::vector<CaptionCue>& cues, double offset) {
    std::string out = "WEBVTT\n\n";
    for (std::size_t i = 0; i < cues.size(); ++i) {
        if (i) out += '\n';
        const auto [start, end] = cueTimes(cues[i], offset);
        out += fmt::format("{} --> {}\n{}\n", timestamp(start, "."), timestamp(end, "."),
                           escapeVtt(withoutLineBreaks(cues[i].text())));
    }
    return out;
}

std::string Transcriber::marker(double seconds) {
    const std::int64_t s = wholeSeconds(seconds);
    return fmt::format("[{:02d}:{:02d}] ", s / 60, s % 60);
}

std::string Transcriber::plainText(const std::vector<CaptionWord>& words, double offset) {
    std::vector<std::string> paragraphs;
    std::string current;
    std::size_t currentCount = 0;
    double paragraphStart = 0;
    auto close = [&] {
        paragraphs.push_back(marker(paragraphStart + offset) + current);
        current.clear();
        currentCount = 0;
    };
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto& w = words[i];
        if (i == 0) {
            paragraphStart = w.start;
        } else {
            const auto& previous = words[i - 1];
            const double gap = w.start - previous.end;
            if (gap > 1.5 || (endsSentence(previous.text) && currentCount > 80)) {
                close();
                paragraphStart = w.start;
            }
        }
        if (currentCount) current += ' ';
        current += w.text;
        ++currentCount;
    }
    if (!words.empty()) close();
    std::string out;
    for (std::size_t i = 0; i < paragraphs.size(); ++i) {
        if (i) out += "\n\n";
        out += paragraphs[i];
    }
    return out + "\n";
}

} // namespace episode
