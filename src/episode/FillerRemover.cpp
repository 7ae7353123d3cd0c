#include "episode/FillerRemover.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_set>

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "core/Graphemes.h"
#include "core/Numbers.h"
#include "core/Text.h"

namespace episode {

namespace {

const char* const kUnspokenKey = "unspoken um/uh";
const char* const kRepeatKey = "repeated words";

icu::UnicodeString toUnicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

// Compiled once; a pattern may hand out matchers on any thread.
const icu::RegexPattern* fillerPattern() {
    static const std::unique_ptr<icu::RegexPattern> pattern = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexPattern> p(icu::RegexPattern::compile(
            icu::UnicodeString::fromUTF8("^(u+h*m+|u+h+|a+h+|e+r+m*|h+m+|m{2,})$"), 0, status));
        if (U_FAILURE(status)) p.reset();
        return p;
    }();
    return pattern.get();
}

const std::unordered_set<std::string>& stutterSet() {
    static const std::unordered_set<std::string> set(FillerRemover::stutterWords().begin(),
                                                     FillerRemover::stutterWords().end());
    return set;
}

bool endsWithAny(const std::string& text, std::string_view characters) {
    return !text.empty() && characters.find(text.back()) != std::string_view::npos;
}

// Time removed by the cuts before t.
double removedBefore(double t, const std::vector<FillerRemover::TimeRange>& cuts) {
    double sum = 0;
    for (const auto& c : cuts) sum += std::max(0.0, std::min(t, c.upper) - c.lower);
    return sum;
}

// Adds a range in order: one starting within 0.02 s of the last widens it.
void mergeInto(std::vector<FillerRemover::TimeRange>& list, FillerRemover::TimeRange range) {
    if (!list.empty() && range.lower <= list.back().upper + 0.02)
        list.back().upper = std::max(list.back().upper, range.upper);
    else
        list.push_back(range);
}

using Run = std::pair<std::size_t, std::size_t>; // half-open frame range

double steadiness(const std::vector<FillerRemover::SpeechFrame>& frames, std::size_t s, std::size_t e) {
    if (e - s < 4) return 0;
    float low = frames[s + 1].brightnessDB, high = low;
    for (std::size_t k = s + 1; k <= e - 2; ++k) {
        low = std::min(low, frames[k].brightnessDB);
        high = std::max(high, frames[k].brightnessDB);
    }
    if (high - low > 9.0f) return 0;
    std::size_t steady = 0;
    for (std::size_t k = s + 1; k + 3 <= e; ++k) {
        if (std::fabs(frames[k].levelDB - frames[k + 1].levelDB) < 3.0f &&
            std::fabs(frames[k].brightnessDB - frames[k + 1].brightnessDB) < 3.0f)
            ++steady;
    }
    return static_cast<double>(steady) / static_cast<double>(e - s - 3);
}

} // namespace

int FillerRemover::Plan::count() const {
    int sum = 0;
    for (const auto& [key, n] : removed) sum += n;
    return sum;
}

double FillerRemover::Plan::secondsRemoved() const {
    double sum = 0;
    for (const auto& c : cuts) sum += c.upper - c.lower;
    return sum;
}

const std::vector<std::string>& FillerRemover::stutterWords() {
    static const std::vector<std::string> words = {
        "i",  "we", "the", "a",   "an", "to",   "and", "it",   "of",   "in",    "you", "he",  "she",
        "they", "my", "this", "but", "if", "is", "it's", "i'm", "we're", "on", "for", "with"};
    return words;
}

std::string FillerRemover::normalized(std::string_view text) {
    const std::string lower = core::toLower(text);
    auto u = toUnicode(lower);
    int32_t begin = 0;
    int32_t end = u.length();
    auto trimmed = [](UChar32 c) { return u_ispunct(c) || u_isblank(c); };
    while (begin < end && trimmed(u.char32At(begin))) begin = u.moveIndex32(begin, 1);
    while (end > begin) {
        const int32_t prev = u.moveIndex32(end, -1);
        if (!trimmed(u.char32At(prev))) break;
        end = prev;
    }
    std::string out;
    icu::UnicodeString(u, begin, end - begin).toUTF8String(out);
    return core::replaceAll(std::move(out), "\xE2\x80\x99", "'");
}

bool FillerRemover::isFiller(std::string_view normalizedText) {
    const auto* pattern = fillerPattern();
    if (!pattern) return false;
    UErrorCode status = U_ZERO_ERROR;
    const auto u = toUnicode(normalizedText);
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(u, status));
    if (U_FAILURE(status) || !matcher) return false;
    const bool found = matcher->find(status);
    return U_SUCCESS(status) && found;
}

FillerRemover::Plan FillerRemover::plan(const std::vector<CaptionWord>& words, bool removeRepeats,
                                        const std::vector<TimeRange>& hiddenFillers) {
    const std::size_t n = words.size();
    Plan result;
    std::vector<std::string> forms(n);
    for (std::size_t i = 0; i < n; ++i) forms[i] = normalized(words[i].text);

    // Mark.
    std::vector<bool> flagged(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& form = forms[i];
        if (isFiller(form)) {
            flagged[i] = true;
            const bool umFamily = form.front() == 'u' || form.front() == 'a';
            const std::string key = umFamily ? (form.find('m') != std::string::npos ? "um" : "uh") : form;
            ++result.removed[key];
        } else if (removeRepeats && i + 1 < n && form == forms[i + 1] && stutterSet().count(form) &&
                   words[i + 1].start - words[i].end < 0.6 && !endsWithAny(words[i].text, ".?!,;:")) {
            flagged[i] = true;
            ++result.removed[kRepeatKey];
        }
    }

    // Cuts from the flagged words.
    std::vector<TimeRange> cuts;
    for (std::size_t i = 0; i < n; ++i) {
        if (!flagged[i]) continue;
        double cutEnd = words[i].end;
        if (i + 1 < n && words[i + 1].start - words[i].end < 0.35) cutEnd = words[i + 1].start;
        if (words[i].start < cutEnd) mergeInto(cuts, {words[i].start, cutEnd});
    }

    if (!hiddenFillers.empty()) {
        result.removed[kUnspokenKey] += static_cast<int>(hiddenFillers.size());
        std::vector<TimeRange> all = cuts;
        all.insert(all.end(), hiddenFillers.begin(), hiddenFillers.end());
        std::stable_sort(all.begin(), all.end(),
                         [](const TimeRange& a, const TimeRange& b) { return a.lower < b.lower; });
        cuts.clear();
        for (const auto& r : all) mergeInto(cuts, r);
    }

    // Kept words: touched up and re-timed.
    bool capitaliseNext = false;
    for (std::size_t v = 0; v < n; ++v) {
        const CaptionWord& word = words[v];
        if (flagged[v]) {
            if (v == 0 || endsSentence(words[v - 1].text)) capitaliseNext = true;
            if (endsSentence(word.text) && !result.words.empty()) {
                std::string& last = result.words.back().text;
                if (endsWithAny(last, ",;:")) last.pop_back();
                if (!endsSentence(last)) last += word.text.back();
                capitaliseNext = true;
            }
            continue;
        }
        CaptionWord kept = word;
        if (capitaliseNext && !kept.text.empty()) {
            kept.text = core::uppercaseFirst(kept.text);
            capitaliseNext = false;
        }
        kept.start = word.start - removedBefore(word.start, cuts);
        kept.end = std::max(word.end - removedBefore(word.end, cuts), kept.start + 0.02);
        result.words.push_back(std::move(kept));
    }
    result.cuts = std::move(cuts);
    return result;
}

std::vector<FillerRemover::TimeRange> FillerRemover::hiddenFillerCuts(const std::vector<CaptionWord>& words,
                                                                      const std::vector<SpeechFrame>& frames) {
    std::vector<TimeRange> out;
    if (frames.size() < 51) return out;

    std::vector<float> audible;
    for (const auto& f : frames)
        if (f.levelDB > -60.0f) audible.push_back(f.levelDB);
    if (audible.empty() || words.empty()) return out;
    std::sort(audible.begin(), audible.end());
    const float threshold = audible[(3 * audible.size()) / 4] - 20.0f;

    const auto frameCount = static_cast<std::int64_t>(frames.size());
    for (const auto& word : words) {
        const std::string form = normalized(word.text);
        if (form.empty() || isFiller(form)) continue;
        const double characters = static_cast<double>(core::graphemeCount(form));
        if ((word.end - word.start) - std::min(0.075 * characters + 0.11, 0.9) < 0.2) continue;

        // Frame span of the word, with every time checked before it becomes an index.
        const std::int64_t firstFrame =
            std::clamp<std::int64_t>(core::clampToInt64(word.start / frameSeconds), 0, frameCount);
        const std::int64_t lastFrame =
            std::clamp<std::int64_t>(core::clampToInt64(std::ceil(word.end / frameSeconds)), 0, frameCount);
        if (lastFrame - firstFrame < 12) continue;
        const auto first = static_cast<std::size_t>(firstFrame);
        const auto last = static_cast<std::size_t>(lastFrame);

        std::vector<Run> runs;
        std::size_t runStart = 0;
        bool inRun = false;
        for (std::size_t k = first; k < last; ++k) {
            if (frames[k].levelDB > threshold) {
                if (!inRun) runStart = k;
                inRun = true;
            } else if (inRun) {
                if (k - runStart >= 3) runs.emplace_back(runStart, k);
                inRun = false;
            }
        }
        if (inRun && last - runStart >= 3) runs.emplace_back(runStart, last);
        if (runs.size() < 2) continue;

        std::size_t candidate = runs.size();
        int candidates = 0;
        for (std::size_t r = 0; r < runs.size(); ++r) {
            const double seconds = static_cast<double>(runs[r].second - runs[r].first) * frameSeconds;
            if (seconds >= 0.16 && seconds <= 1.0 && steadiness(frames, runs[r].first, runs[r].second) >= 0.8) {
                candidate = r;
                ++candidates;
            }
        }
        if (candidates != 1) continue;

        bool spoken = false;
        for (std::size_t r = 0; r < runs.size(); ++r)
            if (r != candidate && runs[r].second - runs[r].first >= 4) spoken = true;
        if (!spoken) continue;

        const std::size_t a = candidate == 0 ? first : runs[candidate - 1].second;
        const std::size_t b = candidate + 1 == runs.size() ? last : runs[candidate + 1].first;
        const std::size_t lowerFrame = a + (runs[candidate].first - a) / 2;
        const std::size_t upperFrame = runs[candidate].second + (b - runs[candidate].second) / 2;
        const TimeRange cut{std::max(static_cast<double>(lowerFrame) * frameSeconds, word.start),
                            std::min(static_cast<double>(upperFrame) * frameSeconds, word.end)};
        if (cut.upper - cut.lower >= 0.12) out.push_back(cut);
    }
    return out;
}

} // namespace episode
