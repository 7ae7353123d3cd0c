#include "ui/UpdateChecker.h"

#include <chrono>

#include "core/Numbers.h"
#include "ui/UiTexts.h"

namespace ui {

UpdateChecker::UpdateChecker(batch::Edition product, Ports ports) : product_(product), ports_(std::move(ports)) {}

std::string UpdateChecker::lastCheckKey() const {
    return "updates.lastCheck." + std::string(batch::editionInfo(product_).slug);
}

std::int64_t UpdateChecker::currentBuild() const { return core::parseInt(ports_.currentBuildText).value_or(0); }

double UpdateChecker::nowSeconds() const {
    using namespace std::chrono;
    core::Date now = ports_.now ? ports_.now() : core::Clock::now();
    return static_cast<double>(duration_cast<microseconds>(now.time_since_epoch()).count()) / 1e6;
}

bool UpdateChecker::offerable(const batch::UpdateInfo& info) const {
    return info.isNewer(currentVersion(), currentBuild()) && info.isTrustedDownload();
}

void UpdateChecker::fetch(std::function<void(std::optional<batch::UpdateInfo>)> done) {
    if (!ports_.fetcher) {
        done(std::nullopt);
        return;
    }
    ports_.fetcher->fetch(ports_.feedURL(product_), [done](std::optional<std::string> body) {
        if (!body) return done(std::nullopt);
        try {
            done(batch::UpdateInfo::decode(*body));
        } catch (...) {
            done(std::nullopt);
        }
    });
}

void UpdateChecker::checkInBackground() {
    if (!ports_.installedBuild) return;
    double last = ports_.settings ? ports_.settings->number(lastCheckKey()).value_or(0) : 0;
    if (!(nowSeconds() - last > kCheckInterval)) return;
    std::weak_ptr<int> alive = alive_;
    fetch([this, alive](std::optional<batch::UpdateInfo> info) {
        if (!alive.lock() || !info) return; // silent: the next launch tries again
        if (ports_.settings) ports_.settings->setNumber(lastCheckKey(), nowSeconds());
        if (offerable(*info)) {
            available_ = *info;
            present(*info);
        }
    });
}

void UpdateChecker::checkNow() {
    std::weak_ptr<int> alive = alive_;
    fetch([this, alive](std::optional<batch::UpdateInfo> info) {
        if (!alive.lock()) return;
        if (!info) {
            if (ports_.alerts.inform) ports_.alerts.inform(texts::kUpdateFailedMessage, texts::kUpdateFailedInformative);
            return;
        }
        if (ports_.settings) ports_.settings->setNumber(lastCheckKey(), nowSeconds());
        if (offerable(*info)) {
            available_ = *info;
            present(*info);
            return;
        }
        if (ports_.alerts.inform)
            ports_.alerts.inform(texts::kUpToDateMessage, std::string(batch::editionInfo(product_).displayName) + " " +
                                                              currentVersion() + " is the newest version.");
    });
}

std::string UpdateChecker::updateMessage(const batch::UpdateInfo& info) const {
    return std::string(batch::editionInfo(product_).displayName) + " " + info.version + " is available";
}

std::string UpdateChecker::updateInformative(const batch::UpdateInfo& info) const {
    std::string text;
    if (info.notes) text = *info.notes + "\n\n";
    return text + "You have " + currentVersion() + texts::kUpdateInformativeTail;
}

void UpdateChecker::present(const batch::UpdateInfo& info) {
    if (!ports_.alerts.offerDownload) return;
    if (ports_.alerts.offerDownload(updateMessage(info), updateInformative(info)) && ports_.alerts.openURL)
        ports_.alerts.openURL(info.url);
}

} // namespace ui
