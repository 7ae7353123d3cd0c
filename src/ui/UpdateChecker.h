#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "batch/UpdateInfo.h"
#include "ui/WorkspacePorts.h"

namespace ui {

// Fetches an edition's feed document. Calls `done` exactly once, on the GUI
// thread, with the body of a 200 answer or nothing on any failure.
class UpdateFetcher {
public:
    virtual ~UpdateFetcher() = default;
    virtual void fetch(const std::string& url, std::function<void(std::optional<std::string> body)> done) = 0;
};

// Modal alerts and the browser.
struct AlertPorts {
    // An informational alert with a single default button.
    std::function<void(const std::string& message, const std::string& informative)> inform;
    // The update alert: true when "Download" was chosen, false for "Later".
    std::function<bool(const std::string& message, const std::string& informative)> offerDownload;
    std::function<void(const std::string& url)> openURL;
};

// Looks for new releases: automatically at most once a day in an installed
// build, and on demand from the menu. Feed texts are shown as plain text.
class UpdateChecker {
public:
    struct Ports {
        std::shared_ptr<UpdateFetcher> fetcher;
        SettingsStore* settings = nullptr;
        ClockPort now;
        AlertPorts alerts;
        // Only an installed build checks by itself; build-tree and test builds never do.
        bool installedBuild = false;
        std::string currentVersion = "0";
        std::string currentBuildText;
        // Where feeds are fetched from; tests point it at a loopback server.
        std::function<std::string(batch::Edition)> feedURL = [](batch::Edition e) {
            return batch::UpdateInfo::feedURL(e);
        };
    };

    static constexpr double kCheckInterval = 86400;

    UpdateChecker(batch::Edition product, Ports ports);

    batch::Edition product() const { return product_; }
    const std::optional<batch::UpdateInfo>& available() const { return available_; }
    std::string lastCheckKey() const;
    const std::string& currentVersion() const { return ports_.currentVersion; }
    // The build text read as a decimal integer with an optional sign; 0 otherwise.
    std::int64_t currentBuild() const;

    void checkInBackground();
    void checkNow();
    void present(const batch::UpdateInfo& info);

    // The alert texts (exposed for the window and the tests).
    std::string updateMessage(const batch::UpdateInfo& info) const;
    std::string updateInformative(const batch::UpdateInfo& info) const;

private:
    void fetch(std::function<void(std::optional<batch::UpdateInfo>)> done);
    double nowSeconds() const;
    bool offerable(const batch::UpdateInfo& info) const;

    batch::Edition product_;
    Ports ports_;
    std::optional<batch::UpdateInfo> available_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace ui
