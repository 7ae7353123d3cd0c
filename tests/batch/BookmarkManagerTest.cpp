#include "batch/SecurityScopedBookmarkManager.h"

#include <thread>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using batch::MemoryBookmarkStore;
using batch::SecurityScopedBookmarkManager;

class BookmarkTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::shared_ptr<MemoryBookmarkStore> store = std::make_shared<MemoryBookmarkStore>();
    SecurityScopedBookmarkManager manager{store};

    fs::path folder(const std::string& name) {
        fs::create_directories(dir / name);
        return dir / name;
    }
};

TEST_F(BookmarkTest, SavingTwiceKeepsOneEntryAndResolvesToThePath) {
    const auto shows = folder("Shows");
    manager.saveBookmark(shows);
    manager.saveBookmark(shows);
    ASSERT_TRUE(store->load());
    EXPECT_EQ(store->load()->size(), 1u);
    testing::internal::CaptureStdout();
    const auto resolved = manager.resolveBookmark(shows.string());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_TRUE(resolved);
    EXPECT_EQ(*resolved, shows);
    EXPECT_EQ(manager.accessCount(shows), 1);
    manager.stopAccessing(shows);
    EXPECT_EQ(manager.accessCount(shows), 0);
    manager.stopAccessing(shows); // unbalanced: nothing happens
    EXPECT_EQ(manager.accessCount(shows), 0);
}

TEST_F(BookmarkTest, UnknownPathGivesNothingSilently) {
    manager.saveBookmark(folder("Known"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(manager.resolveBookmark((dir / "Unknown").string()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(BookmarkTest, RenamedFolderResolvesToItsNewPathStoredAfresh) {
    const auto before = folder("Season 1");
    manager.saveBookmark(before);
    const auto after = dir / "Season One";
    fs::rename(before, after);
    const auto resolved = manager.resolveBookmark(before.string());
    ASSERT_TRUE(resolved);
    EXPECT_EQ(*resolved, after);
    const auto map = store->load();
    ASSERT_TRUE(map);
    EXPECT_TRUE(map->count(after.string()));
    // The fresh entry resolves without the search.
    const auto again = manager.resolveBookmark(after.string());
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, after);
}

TEST_F(BookmarkTest, DeletedFolderPrintsTheLineAndGivesNothing) {
    const auto gone = folder("Gone");
    manager.saveBookmark(gone);
    fs::remove(gone);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(manager.resolveBookmark(gone.string()));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Failed to resolve security-scoped bookmark: ", 0), 0u) << out;
    EXPECT_NE(out.find("Gone"), std::string::npos);
    EXPECT_TRUE(store->load()->count(gone.string())); // the entry stays
}

TEST_F(BookmarkTest, FolderMovedTwoLevelsAwayIsFoundByItsInodeAndStoredAfresh) {
    const auto original = folder("Work/2024/Inbox");
    manager.saveBookmark(original);
    fs::create_directories(dir / "Archive" / "Old");
    const auto moved = dir / "Archive" / "Old" / "Inbox";
    fs::rename(original, moved);
    fs::create_directory(original); // same path, another inode
    testing::internal::CaptureStdout();
    const auto resolved = manager.resolveBookmark(original.string());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_TRUE(resolved);
    EXPECT_EQ(*resolved, moved);
    EXPECT_EQ(manager.accessCount(moved), 1);
    const auto map = store->load();
    ASSERT_TRUE(map);
    ASSERT_TRUE(map->count(moved.string()));
    EXPECT_EQ(map->at(moved.string()), SecurityScopedBookmarkManager::makeBookmark(moved));
}

TEST_F(BookmarkTest, MalformedStoreCountsAsEmptyAndIsOverwritten) {
    manager.saveBookmark(folder("A"));
    store->corrupt();
    EXPECT_FALSE(manager.resolveBookmark((dir / "A").string()));
    manager.saveBookmark(folder("B"));
    ASSERT_TRUE(store->load());
    EXPECT_EQ(store->load()->size(), 1u);
    EXPECT_TRUE(manager.resolveBookmark((dir / "B").string()));
}

TEST_F(BookmarkTest, MissingPathCannotBeSaved) {
    EXPECT_THROW(manager.saveBookmark(dir / "missing"), core::Error);
    EXPECT_FALSE(store->load());
}

TEST_F(BookmarkTest, DamagedBookmarkBytesPrintAndGiveNothing) {
    store->save({{"/x", {'{', 'n'}}});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(manager.resolveBookmark("/x"));
    EXPECT_NE(testing::internal::GetCapturedStdout(), "");
}

TEST_F(BookmarkTest, SixteenThreadsSavingAtOnceKeepEveryEntry) {
    std::vector<fs::path> folders;
    for (int i = 0; i < 16; ++i) folders.push_back(folder("f" + std::to_string(i)));
    std::vector<std::thread> threads;
    for (const auto& f : folders)
        threads.emplace_back([&, f] {
            for (int k = 0; k < 20; ++k) manager.saveBookmark(f);
        });
    for (auto& t : threads) t.join();
    ASSERT_TRUE(store->load());
    EXPECT_EQ(store->load()->size(), 16u);
}

} // namespace
