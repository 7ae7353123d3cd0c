#pragma once

#include <memory>

#include <QSettings>

#include "batch/SecurityScopedBookmarkManager.h"

namespace ui {

// Keeps the bookmark map in the application's settings: one entry under the
// manager's key holding a map from path to bookmark bytes. Anything else
// stored there reads as nothing.
class QSettingsBookmarkStore : public batch::BookmarkStore {
public:
    explicit QSettingsBookmarkStore(std::shared_ptr<QSettings> settings);
    std::optional<batch::BookmarkMap> load() const override;
    void save(const batch::BookmarkMap& bookmarks) override;

private:
    std::shared_ptr<QSettings> settings_;
};

} // namespace ui
