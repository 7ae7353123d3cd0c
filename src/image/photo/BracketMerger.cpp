#include "image/photo/BracketMerger.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <numeric>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "core/NaturalCollator.h"
#include "core/Text.h"

namespace image {

namespace fs = std::filesystem;

namespace {

// Largest number of frames in one bracket.
constexpr std::size_t kMaxBracket = 9;
// Two exposures closer than this are a repeat, not a step of the bracket.
constexpr double kRepeatStops = 0.3;
// A run must span at least this many stops to be a bracket.
constexpr double kMinSpreadStops = 0.9;
// Allowed gap after a frame's own exposure time, in seconds.
constexpr double kBurstGapSeconds = 3.0;

double secondsBetween(core::Date later, core::Date earlier) {
    return std::chrono::duration<double>(later - earlier).count();
}

// Where the cached groups of one folder come from: the accepted files' names
// and modification times. A changed stamp means the groups are recomputed.
struct CacheEntry {
    std::string stamp;
    std::vector<std::vector<fs::path>> groups;
};

// One cache per process. The mutex is held only to look up or store an
// entry, never while photos are read or grouped.
std::mutex& cacheLock() {
    static std::mutex lock;
    return lock;
}
std::map<std::string, CacheEntry>& groupsCache() {
    static std::map<std::string, CacheEntry> cache;
    return cache;
}

// Modification time in seconds since 1970 (0 when it can't be read).
double modificationSeconds(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9;
}

std::string lowerExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
    return core::toLower(ext);
}

// The folder's accepted, visible entries in the file manager's order.
std::vector<fs::path> acceptedEntries(const fs::path& folder, const std::set<std::string>& extensions) {
    std::vector<fs::path> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return entries;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::path& entry = it->path();
        const std::string name = entry.filename().string();
        if (name.empty() || name.front() == '.') continue;
        if (!extensions.contains(lowerExtension(entry))) continue;
        entries.push_back(entry);
    }
    const core::NaturalCollator collator;
    std::stable_sort(entries.begin(), entries.end(), [&](const fs::path& a, const fs::path& b) {
        return collator(a.filename().string(), b.filename().string());
    });
    return entries;
}

std::string folderStamp(const std::vector<fs::path>& entries) {
    std::string stamp;
    for (const auto& entry : entries) {
        if (!stamp.empty()) stamp += '|';
        stamp += entry.filename().string();
        stamp += ':';
        stamp += fmt::format("{}", modificationSeconds(entry));
    }
    return stamp;
}

// Paths compared as the same file: absolute, with "." and ".." resolved
// lexically (links are not followed).
fs::path standardized(const fs::path& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) absolute = path;
    fs::path normal = absolute.lexically_normal();
    if (normal.has_filename() || normal == normal.root_path()) return normal;
    return normal.parent_path(); // drop a trailing separator
}

} // namespace

std::vector<std::vector<fs::path>> BracketMerger::group(const std::vector<Shot>& shots) {
    std::vector<const Shot*> usable;
    for (const auto& s : shots)
        if (s.time && s.exposureValue) usable.push_back(&s);
    std::stable_sort(usable.begin(), usable.end(), [](const Shot* a, const Shot* b) {
        if (*a->time != *b->time) return *a->time < *b->time;
        return a->url.filename().string() < b->url.filename().string();
    });

    std::vector<std::vector<fs::path>> result;
    std::vector<const Shot*> current;
    auto close = [&] {
        if (current.size() >= 2) {
            auto [lo, hi] = std::minmax_element(current.begin(), current.end(), [](const Shot* a, const Shot* b) {
                return *a->exposureValue < *b->exposureValue;
            });
            if (*(*hi)->exposureValue - *(*lo)->exposureValue >= kMinSpreadStops) {
                std::vector<fs::path> bracket;
                for (const Shot* s : current) bracket.push_back(s->url);
                result.push_back(std::move(bracket));
            }
        }
        current.clear();
    };

    for (const Shot* s : usable) {
        if (!current.empty()) {
            const Shot* last = current.back();
            const bool repeated = std::any_of(current.begin(), current.end(), [&](const Shot* c) {
                return std::abs(*c->exposureValue - *s->exposureValue) < kRepeatStops;
            });
            const bool gap = secondsBetween(*s->time, *last->time) > last->exposureTime + kBurstGapSeconds;
            const bool resized = s->width != last->width || s->height != last->height;
            if (repeated || gap || resized || current.size() >= kMaxBracket) close();
        }
        current.push_back(s);
    }
    close();
    return result;
}

std::vector<fs::path> BracketMerger::brackets(const fs::path& photo, const std::set<std::string>& extensions) {
    try {
        const fs::path folder = photo.parent_path().empty() ? fs::path(".") : photo.parent_path();
        const std::vector<fs::path> entries = acceptedEntries(folder, extensions);
        const std::string stamp = folderStamp(entries);
        const std::string key = folder.string();

        std::optional<std::vector<std::vector<fs::path>>> groups;
        {
            std::lock_guard lock(cacheLock());
            auto& cache = groupsCache();
            if (auto it = cache.find(key); it != cache.end() && it->second.stamp == stamp)
                groups = it->second.groups;
        }
        if (!groups) {
            std::vector<Shot> shots;
            shots.reserve(entries.size());
            for (const auto& entry : entries)
                if (auto s = shot(entry)) shots.push_back(std::move(*s));
            groups = group(shots);
            std::lock_guard lock(cacheLock());
            groupsCache()[key] = CacheEntry{stamp, *groups};
        }

        const fs::path wanted = standardized(photo);
        for (const auto& g : *groups)
            for (const auto& member : g)
                if (standardized(member) == wanted) return g;
    } catch (const std::exception&) {
        // Unreadable folders and files make the photo a single.
    }
    return {photo};
}

} // namespace image
