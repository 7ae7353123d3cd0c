#include "batch/SecurityScopedBookmarkManager.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>

#include <sys/stat.h>

#include <fmt/core.h>
#include <nlohmann/json.hpp>

namespace batch {

namespace fs = std::filesystem;

namespace {

struct Bookmark {
    std::string path;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

struct ResolveError {
    std::string reason;
};

std::optional<Bookmark> decode(const BookmarkData& data) {
    try {
        const auto json = nlohmann::json::parse(data.begin(), data.end());
        Bookmark b;
        b.path = json.at("path").get<std::string>();
        b.device = json.at("device").get<std::uint64_t>();
        b.inode = json.at("inode").get<std::uint64_t>();
        if (b.path.empty() || b.path.front() != '/') return std::nullopt;
        return b;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool sameFile(const fs::path& path, const Bookmark& b) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == b.device &&
           static_cast<std::uint64_t>(st.st_ino) == b.inode;
}

// How far a moved folder is looked for: below each folder above its old
// path, nearest first, this many levels deep, this many entries and about
// this long in all.
constexpr int kSearchDepth = 4;
constexpr std::size_t kSearchEntries = 50000;
constexpr auto kSearchTime = std::chrono::seconds(1);

// The bookmarked item under its new name or in its new folder: the first
// entry with its device and inode, searched breadth-first below the old
// path's parent, then below the grandparent (the part already searched left
// out), and so on up. Links are not followed, nor other file systems. The
// inode of a deleted item is soon given to a new file, so away from the old
// parent only a folder that kept its name counts.
std::optional<fs::path> findMoved(const Bookmark& b) {
    const auto deadline = std::chrono::steady_clock::now() + kSearchTime;
    const fs::path oldPath(b.path);
    std::size_t entries = 0;
    fs::path searched;
    for (fs::path ancestor = oldPath.parent_path();; ancestor = ancestor.parent_path()) {
        std::deque<std::pair<fs::path, int>> pending{{ancestor, 1}};
        while (!pending.empty()) {
            auto [folder, depth] = std::move(pending.front());
            pending.pop_front();
            std::error_code ec;
            fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
            for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
                if (++entries > kSearchEntries || std::chrono::steady_clock::now() > deadline) return std::nullopt;
                const fs::path child = folder / it->path().filename();
                struct stat st {};
                if (child == searched || ::lstat(child.c_str(), &st) != 0) continue;
                if (static_cast<std::uint64_t>(st.st_dev) != b.device) continue;
                if (static_cast<std::uint64_t>(st.st_ino) == b.inode &&
                    (folder == oldPath.parent_path() || (S_ISDIR(st.st_mode) && child.filename() == oldPath.filename())))
                    return child;
                if (S_ISDIR(st.st_mode) && depth < kSearchDepth) pending.emplace_back(child, depth + 1);
            }
        }
        if (ancestor == ancestor.parent_path()) return std::nullopt;
        searched = ancestor;
    }
}

void printFailure(const std::string& reason) {
    std::fputs(fmt::format("Failed to resolve security-scoped bookmark: {}\n", reason).c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

std::optional<BookmarkMap> MemoryBookmarkStore::load() const {
    std::lock_guard lock(mutex_);
    return value_;
}

void MemoryBookmarkStore::save(const BookmarkMap& bookmarks) {
    std::lock_guard lock(mutex_);
    value_ = bookmarks;
}

void MemoryBookmarkStore::corrupt() {
    std::lock_guard lock(mutex_);
    value_.reset();
}

SecurityScopedBookmarkManager::SecurityScopedBookmarkManager(std::shared_ptr<BookmarkStore> store)
    : store_(store ? std::move(store) : std::make_shared<MemoryBookmarkStore>()) {}

SecurityScopedBookmarkManager& SecurityScopedBookmarkManager::shared() {
    static SecurityScopedBookmarkManager instance(std::make_shared<MemoryBookmarkStore>());
    return instance;
}

void SecurityScopedBookmarkManager::setStore(std::shared_ptr<BookmarkStore> store) {
    std::lock_guard lock(mutex_);
    if (store) store_ = std::move(store);
}

BookmarkData SecurityScopedBookmarkManager::makeBookmark(const fs::path& url) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(url, ec).lexically_normal();
    struct stat st {};
    if (ec || ::stat(absolute.c_str(), &st) != 0) {
        const int error = ec ? ec.value() : errno;
        throw core::Error(fmt::format("The file “{}” couldn’t be bookmarked: {}.", url.filename().string(),
                                      std::strerror(error)));
    }
    nlohmann::json json = {{"path", absolute.string()},
                           {"device", static_cast<std::uint64_t>(st.st_dev)},
                           {"inode", static_cast<std::uint64_t>(st.st_ino)}};
    const std::string text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return BookmarkData(text.begin(), text.end());
}

void SecurityScopedBookmarkManager::store(const fs::path& url, BookmarkData bookmark) {
    std::string key = fs::absolute(url).lexically_normal().string();
    if (key.size() > 1 && key.back() == '/') key.pop_back();
    std::lock_guard lock(mutex_);
    BookmarkMap map = store_->load().value_or(BookmarkMap{});
    map[key] = std::move(bookmark);
    store_->save(map);
}

void SecurityScopedBookmarkManager::saveBookmark(const fs::path& url) { store(url, makeBookmark(url)); }

std::optional<fs::path> SecurityScopedBookmarkManager::resolveBookmark(const std::string& path) {
    std::optional<BookmarkData> data;
    {
        std::lock_guard lock(mutex_);
        const auto map = store_->load();
        if (!map) return std::nullopt;
        const auto it = map->find(path);
        if (it == map->end()) return std::nullopt;
        data = it->second;
    }
    const auto bookmark = decode(*data);
    if (!bookmark) {
        printFailure("The bookmark data is damaged.");
        return std::nullopt;
    }

    fs::path resolved = bookmark->path;
    bool stale = false;
    if (!sameFile(resolved, *bookmark)) {
        const std::optional<fs::path> found = findMoved(*bookmark);
        if (!found) {
            printFailure(fmt::format("The folder “{}” doesn’t exist any more ({}).", resolved.filename().string(),
                                     resolved.string()));
            return std::nullopt;
        }
        resolved = *found;
        stale = true;
    }
    if (stale) {
        try {
            saveBookmark(resolved);
        } catch (const std::exception&) {
            // A fresh bookmark is a courtesy; the resolved folder still counts.
        }
    }
    std::lock_guard lock(mutex_);
    ++access_[resolved.string()];
    return resolved;
}

void SecurityScopedBookmarkManager::stopAccessing(const fs::path& url) {
    std::lock_guard lock(mutex_);
    const auto it = access_.find(url.string());
    if (it == access_.end()) return;
    if (--it->second <= 0) access_.erase(it);
}

int SecurityScopedBookmarkManager::accessCount(const fs::path& url) const {
    std::lock_guard lock(mutex_);
    const auto it = access_.find(url.string());
    return it == access_.end() ? 0 : it->second;
}

} // namespace batch
