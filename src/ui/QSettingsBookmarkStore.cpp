#include "ui/QSettingsBookmarkStore.h"

#include <QVariantMap>

namespace ui {

namespace {
QString key() { return QString::fromUtf8(batch::SecurityScopedBookmarkManager::userDefaultsKey); }
} // namespace

QSettingsBookmarkStore::QSettingsBookmarkStore(std::shared_ptr<QSettings> settings) : settings_(std::move(settings)) {}

std::optional<batch::BookmarkMap> QSettingsBookmarkStore::load() const {
    const QVariant value = settings_->value(key());
    if (!value.isValid() || value.typeId() != QMetaType::QVariantMap) return std::nullopt;
    batch::BookmarkMap map;
    const QVariantMap stored = value.toMap();
    for (auto it = stored.constBegin(); it != stored.constEnd(); ++it) {
        if (it.value().typeId() != QMetaType::QByteArray) return std::nullopt;
        const QByteArray bytes = it.value().toByteArray();
        map.emplace(it.key().toStdString(), batch::BookmarkData(bytes.begin(), bytes.end()));
    }
    return map;
}

void QSettingsBookmarkStore::save(const batch::BookmarkMap& bookmarks) {
    QVariantMap stored;
    for (const auto& [path, bytes] : bookmarks)
        stored.insert(QString::fromStdString(path),
                      QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    settings_->setValue(key(), stored);
    settings_->sync();
}

} // namespace ui
