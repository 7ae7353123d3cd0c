#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Error.h"

namespace batch {

using BookmarkData = std::vector<std::uint8_t>;
using BookmarkMap = std::map<std::string, BookmarkData>;

// Where bookmarks are kept between launches: one map from path to bookmark
// bytes under one key. A stored value of the wrong shape reads as nothing.
class BookmarkStore {
public:
    virtual ~BookmarkStore() = default;
    virtual std::optional<BookmarkMap> load() const = 0;
    virtual void save(const BookmarkMap& bookmarks) = 0;
};

class MemoryBookmarkStore : public BookmarkStore {
public:
    std::optional<BookmarkMap> load() const override;
    void save(const BookmarkMap& bookmarks) override;
    // Puts a value of the wrong shape into the store, as another program
    // might.
    void corrupt();

private:
    mutable std::mutex mutex_;
    std::optional<BookmarkMap> value_;
};

// Keeps the user's folders across launches. A bookmark records the folder's
// absolute path with its device and inode. Resolving gives the path back
// while the same inode is there; a folder renamed where it is, or moved
// elsewhere under its name, is found by its inode below the folders above
// its old path (nearest first, within a bound of depth, entries and about a
// second), and a fresh bookmark is stored under the new path. A deleted
// folder can't be resolved.
class SecurityScopedBookmarkManager {
public:
    static constexpr const char* userDefaultsKey = "com.tembrook.security_scoped_bookmarks";

    explicit SecurityScopedBookmarkManager(std::shared_ptr<BookmarkStore> store);

    // The one shared instance; it keeps its bookmarks in memory until the
    // application gives it a persistent store.
    static SecurityScopedBookmarkManager& shared();
    void setStore(std::shared_ptr<BookmarkStore> store);

    // Throws core::Error when the path can't be bookmarked (it doesn't
    // exist); nothing is stored then.
    void saveBookmark(const std::filesystem::path& url);
    std::optional<std::filesystem::path> resolveBookmark(const std::string& path);
    void stopAccessing(const std::filesystem::path& url);

    // How many resolves of `url` are not yet balanced by stopAccessing.
    int accessCount(const std::filesystem::path& url) const;

    static BookmarkData makeBookmark(const std::filesystem::path& url);

private:
    void store(const std::filesystem::path& url, BookmarkData bookmark);

    mutable std::mutex mutex_; // serialises read-change-write of the store
    std::shared_ptr<BookmarkStore> store_;
    std::map<std::string, int> access_;
};

} // namespace batch
