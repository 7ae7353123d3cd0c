#include <QSettings>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "ui/QSettingsBookmarkStore.h"

namespace {

namespace fs = std::filesystem;
using batch::SecurityScopedBookmarkManager;

std::shared_ptr<QSettings> settingsIn(const fs::path& dir) {
    return std::make_shared<QSettings>(QString::fromStdString((dir / "bookmarks.conf").string()), QSettings::IniFormat);
}

TEST(QSettingsBookmarkStore, BookmarksSurviveARestartOfTheStore) {
    testsupport::TempDir dir;
    fs::create_directories(dir / "Shows");
    {
        SecurityScopedBookmarkManager manager(std::make_shared<ui::QSettingsBookmarkStore>(settingsIn(dir.path())));
        manager.saveBookmark(dir / "Shows");
    }
    SecurityScopedBookmarkManager reopened(std::make_shared<ui::QSettingsBookmarkStore>(settingsIn(dir.path())));
    const auto resolved = reopened.resolveBookmark((dir / "Shows").string());
    ASSERT_TRUE(resolved);
    EXPECT_EQ(*resolved, dir / "Shows");
}

TEST(QSettingsBookmarkStore, AValueOfTheWrongShapeCountsAsEmptyAndIsOverwritten) {
    testsupport::TempDir dir;
    fs::create_directories(dir / "A");
    auto settings = settingsIn(dir.path());
    settings->setValue(SecurityScopedBookmarkManager::userDefaultsKey, QStringLiteral("not a map"));
    ui::QSettingsBookmarkStore store(settings);
    EXPECT_FALSE(store.load());

    QVariantMap mixed{{"/a", QByteArray("x")}, {"/b", 42}};
    settings->setValue(SecurityScopedBookmarkManager::userDefaultsKey, mixed);
    EXPECT_FALSE(store.load());

    SecurityScopedBookmarkManager manager(std::make_shared<ui::QSettingsBookmarkStore>(settings));
    manager.saveBookmark(dir / "A");
    const auto map = store.load();
    ASSERT_TRUE(map);
    EXPECT_EQ(map->size(), 1u);
    EXPECT_TRUE(map->count((dir / "A").string()));
}

} // namespace
