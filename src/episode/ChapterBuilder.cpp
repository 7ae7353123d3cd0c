#include "episode/ChapterBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <fmt/format.h>

#include "core/Json.h"
#include "core/Numbers.h"
#include "core/Text.h"

namespace episode {

namespace {

// Times beyond this many seconds (over 31 years) are not chapter times; they
// are refused when read so that no later conversion can overflow.
constexpr double kLongestTime = 1e9;

std::int64_t wholeSeconds(double t) {
    return core::clampToInt64(std::floor(std::max(t, 0.0)));
}

std::string formatClock(std::int64_t s, bool hours) {
    if (!hours) return fmt::format("{:02d}:{:02d}", s / 60, s % 60);
    return fmt::format("{}:{:02d}:{:02d}", s / 3600, (s / 60) - (s / 3600) * 60, s % 60);
}

std::string escapeMetadata(const std::string& title) {
    std::string out;
    out.reserve(title.size());
    for (char c : title) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '=': out += "\\="; break;
        case ';': out += "\\;"; break;
        case '#': out += "\\#"; break;
        case '\n':
        case '\r': out += ' '; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

std::optional<double> ChapterBuilder::seconds(std::string_view text) {
    const auto pieces = core::split(text, ':', false);
    if (pieces.empty() || pieces.size() > 3) return std::nullopt;
    double x = 0;
    for (const auto& piece : pieces) {
        const auto value = core::parseDouble(piece);
        if (!value || std::fabs(*value) > kLongestTime) return std::nullopt;
        x = x * 60 + *value;
    }
    if (!std::isfinite(x) || std::fabs(x) > kLongestTime) return std::nullopt;
    return x;
}

std::string ChapterBuilder::clock(double seconds, bool alwaysHours) {
    const std::int64_t s = wholeSeconds(seconds);
    return formatClock(s, alwaysHours || s >= 3600);
}

std::vector<Chapter> ChapterBuilder::parse(std::string_view text) {
    std::vector<Chapter> chapters;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        // Lines end at a line feed, a carriage return or ";".
        const std::size_t stop = std::min(text.find_first_of("\n\r;", begin), text.size());
        const std::string line = core::trimCharacters(text.substr(begin, stop - begin), " \t");
        begin = stop + 1;
        if (line.empty()) continue;
        const std::size_t blank = line.find_first_of(" \t");
        if (blank == std::string::npos) continue;
        const auto start = seconds(std::string_view(line).substr(0, blank));
        if (!start) continue;
        std::string title = core::trimCharacters(std::string_view(line).substr(blank + 1), " \t-\u2013\u2014");
        if (title.empty()) continue;
        chapters.push_back({*start, std::move(title)});
    }
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const Chapter& a, const Chapter& b) { return a.start < b.start; });
    return chapters;
}

std::vector<Chapter> ChapterBuilder::tidy(std::vector<Chapter> chapters, double duration) {
    std::erase_if(chapters, [&](const Chapter& c) { return !(c.start >= 0 && c.start < duration - 1); });
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const Chapter& a, const Chapter& b) { return a.start < b.start; });
    if (chapters.empty()) return chapters;
    if (chapters.front().start > 1.0)
        chapters.insert(chapters.begin(), Chapter{0, "Start"});
    else
        chapters.front().start = 0;
    return chapters;
}

std::string ChapterBuilder::title(const std::vector<CaptionWord>& words, std::size_t index) {
    std::vector<std::string> taken;
    bool sentenceEnded = false;
    for (std::size_t i = index; i < words.size() && taken.size() < 7; ++i) {
        taken.push_back(words[i].text);
        if (endsSentence(words[i].text)) {
            sentenceEnded = true;
            break;
        }
    }
    std::string result = core::trimCharacters(core::join(taken, " "), ".,:;!");
    if (taken.size() == 7 && !sentenceEnded) result += "\u2026";
    if (result.empty()) return "Chapter";
    return result;
}

std::vector<Chapter> ChapterBuilder::automatic(const std::vector<CaptionWord>& words, double duration,
                                               std::optional<double> minimumLength) {
    std::vector<Chapter> chapters;
    if (words.empty()) return chapters;
    const double minimum = minimumLength ? *minimumLength : std::max(duration / 12, 60.0);
    chapters.push_back({0, title(words, 0)});
    double reference = words[0].start;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const double gap = words[i].start - words[i - 1].end;
        const bool pause = gap >= 2.0 || (endsSentence(words[i - 1].text) && gap >= 1.2);
        if (pause && words[i].start >= reference + minimum && duration - words[i].start >= 0.5 * minimum) {
            chapters.push_back({std::max(words[i].start - 0.3, 0.0), title(words, i)});
            reference = words[i].start;
        }
    }
    return chapters;
}

std::string ChapterBuilder::json(const std::vector<Chapter>& chapters) {
    core::Json list = core::Json::array();
    for (const auto& c : chapters) {
        // Nearest millisecond, halves away from zero; whole seconds stay integers.
        const std::int64_t ms = core::clampToInt64(std::round(c.start * 1000.0));
        core::Json entry = core::Json::object();
        if (ms % 1000 == 0)
            entry["startTime"] = ms / 1000;
        else
            entry["startTime"] = static_cast<double>(ms) / 1000.0;
        entry["title"] = c.title;
        list.push_back(std::move(entry));
    }
    core::Json document = core::Json::object();
    document["chapters"] = std::move(list);
    document["version"] = "1.2.0";
    return core::dumpJson(document, 2);
}

std::string ChapterBuilder::text(const std::vector<Chapter>& chapters) {
    const bool hoursForAll = !chapters.empty() && chapters.back().start >= 3600;
    std::string out;
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        if (i) out += '\n';
        const std::int64_t s = wholeSeconds(chapters[i].start);
        out += formatClock(s, hoursForAll || s > 3599) + " " + chapters[i].title;
    }
    return out + "\n";
}

std::string ChapterBuilder::ffmetadata(const std::vector<Chapter>& chapters, double duration) {
    std::string out = ";FFMETADATA1\n";
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const double end = i + 1 < chapters.size() ? chapters[i + 1].start : duration;
        out += fmt::format("[CHAPTER]\nTIMEBASE=1/1000\nSTART={}\nEND={}\ntitle={}\n",
                           core::clampToInt64(chapters[i].start * 1000.0), core::clampToInt64(end * 1000.0),
                           escapeMetadata(chapters[i].title));
    }
    return out;
}

} // namespace episode
