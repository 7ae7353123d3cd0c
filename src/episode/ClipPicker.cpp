#include "episode/ClipPicker.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/Numbers.h"

namespace episode {

double ClipPicker::liveliestStart(const std::vector<CaptionWord>& words, double duration, double length) {
    if (!(duration > length + 1) || words.size() <= 8) return 0;
    const std::size_t n = words.size();

    std::vector<double> candidates{words[0].start};
    for (std::size_t i = 1; i < n; ++i)
        if (endsSentence(words[i - 1].text)) candidates.push_back(words[i].start);

    double bestScore = -1;
    double bestStart = 0;
    std::size_t j = 0;
    std::size_t e = 0;
    for (const double m : candidates) {
        if (!(duration >= m + length)) continue;
        while (j < n && words[j].start < m) ++j;
        e = std::max(j, e);
        while (e < n && !(words[e].end > m + length)) ++e;
        double score = static_cast<double>(e - j);
        for (std::size_t k = j; k < e; ++k) {
            const auto& t = words[k].text;
            if (!t.empty() && (t.back() == '?' || t.back() == '!')) score += 2;
        }
        if (score > bestScore + 0.5) {
            bestScore = score;
            bestStart = m;
        }
    }
    return std::max(bestStart - 0.25, 0.0);
}

double ClipPicker::loudestStart(const std::vector<float>& levels, double step, double length) {
    if (!(step > 0)) return 0;
    // The window in steps; a non-finite or huge ratio simply gives no choice.
    const auto window = core::toInt64(length / step);
    if (!window || *window < 1 || *window > static_cast<std::int64_t>(levels.size()) - 1) return 0;
    const auto w = static_cast<std::size_t>(*window);

    float running = 0;
    for (std::size_t k = 0; k < w; ++k) running += levels[k];
    float best = running;
    std::size_t bestIndex = 0;
    for (std::size_t k = w; k < levels.size(); ++k) {
        running = running + levels[k] - levels[k - w];
        if (running > best + 1e-6f) {
            best = running;
            bestIndex = k - w + 1;
        }
    }
    return step * static_cast<double>(bestIndex);
}

} // namespace episode
