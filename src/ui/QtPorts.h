#pragma once

#include <map>
#include <memory>

#include <QNetworkAccessManager>
#include <QObject>
#include <QSettings>

#include "ui/UpdateChecker.h"
#include "ui/WorkspacePorts.h"

namespace ui {

// Runs closures on the GUI thread through the application's event queue.
// Safe to call from any thread; does nothing once the application is gone.
Poster makeQtPoster();

// One-shot QTimers on the GUI thread.
class QtScheduler : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;
    Token schedule(double seconds, std::function<void()> action) override;
    void cancel(Token token) override;

private:
    std::unique_ptr<QObject> context_;
    std::map<Token, QObject*> timers_;
    Token next_ = 1;
};

// The user-defaults store on QSettings. The "settings" map is kept as a group
// of plain strings, so the file stays readable.
class QSettingsStore : public SettingsStore {
public:
    explicit QSettingsStore(std::unique_ptr<QSettings> settings);
    std::optional<StringMap> stringMap(const std::string& key) const override;
    std::optional<std::string> text(const std::string& key) const override;
    std::optional<double> number(const std::string& key) const override;
    void setStringMap(const std::string& key, const StringMap& value) override;
    void setText(const std::string& key, const std::string& value) override;
    void setNumber(const std::string& key, double value) override;
    void sync();

private:
    std::unique_ptr<QSettings> settings_;
};

// Fetches feeds with Qt Network: no cache, 15 s timeout, HTTPS only (plain
// HTTP only to a loopback host when allowed, for tests), no redirect to a
// less safe scheme, TLS verification on, bodies capped at 1 MiB.
class QtUpdateFetcher : public UpdateFetcher {
public:
    static constexpr qint64 kMaxBody = 1 << 20;
    static constexpr int kTimeoutMs = 15000;

    explicit QtUpdateFetcher(bool allowLoopbackHttp = false);
    ~QtUpdateFetcher() override;
    void fetch(const std::string& url, std::function<void(std::optional<std::string>)> done) override;

private:
    bool allowLoopbackHttp_;
    std::unique_ptr<QNetworkAccessManager> network_;
};

} // namespace ui
