#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "episode/CaptionWord.h"
#include "episode/Chapter.h"

namespace episode {

// Typed chapter lists, time texts, chapters found in a transcript and the
// three chapter formats (JSON chapters, timestamp list, FFmpeg metadata).
class ChapterBuilder {
public:
    ChapterBuilder() = delete;

    // Lines of "<time> <title>" separated by line ends or ";"; unreadable
    // lines are skipped; sorted by start (stable).
    static std::vector<Chapter> parse(std::string_view text);
    // "90", "1:30", "0:01:30" give 90. Non-finite or absurd values give none.
    static std::optional<double> seconds(std::string_view text);
    // "MM:SS" below an hour, else "H:MM:SS"; negative times as 0.
    static std::string clock(double seconds, bool alwaysHours = false);
    // Drops chapters outside the episode and makes the list start at 0.
    static std::vector<Chapter> tidy(std::vector<Chapter> chapters, double duration);
    // Up to seven words from `index`, stopping after a sentence end.
    static std::string title(const std::vector<CaptionWord>& words, std::size_t index);
    // Chapters at long pauses, at least `minimumLength` seconds apart
    // (default max(duration / 12, 60)).
    static std::vector<Chapter> automatic(const std::vector<CaptionWord>& words, double duration,
                                          std::optional<double> minimumLength = std::nullopt);
    // The Podcasting 2.0 JSON chapters document.
    static std::string json(const std::vector<Chapter>& chapters);
    // One "<time> <title>" line per chapter.
    static std::string text(const std::vector<Chapter>& chapters);
    // FFmpeg metadata text with one [CHAPTER] section per chapter.
    static std::string ffmetadata(const std::vector<Chapter>& chapters, double duration);
};

} // namespace episode
