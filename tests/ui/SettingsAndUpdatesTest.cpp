#include <chrono>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include "presets/PresetSettingsCodec.h"
#include "support/TestSupport.h"
#include "ui/QtPorts.h"
#include "ui/UpdateChecker.h"

namespace {

bool spinUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A loopback HTTP server that answers every request with one canned reply.
class FeedServer {
public:
    FeedServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    s->readAll();
                    ++requests;
                    QByteArray reply = "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                                       QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
                    s->write(reply);
                    s->disconnectFromHost();
                });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + "/Quorvel.json"; }
    QByteArray status = "200 OK";
    QByteArray body;
    int requests = 0;

private:
    QTcpServer server_;
};

struct Alerts {
    std::vector<std::pair<std::string, std::string>> informed, offered;
    std::vector<std::string> opened;
    bool choose = true;
    ui::AlertPorts ports() {
        return {[this](const std::string& m, const std::string& i) { informed.emplace_back(m, i); },
                [this](const std::string& m, const std::string& i) {
                    offered.emplace_back(m, i);
                    return choose;
                },
                [this](const std::string& u) { opened.push_back(u); }};
    }
};

struct Checker {
    FeedServer server;
    Alerts alerts;
    ui::MemorySettingsStore store;
    core::Date now = core::Date(std::chrono::seconds(2'000'000'000));
    std::unique_ptr<ui::UpdateChecker> checker;

    explicit Checker(bool installed = true) {
        ui::UpdateChecker::Ports p;
        p.fetcher = std::make_shared<ui::QtUpdateFetcher>(true);
        p.settings = &store;
        p.now = [this] { return now; };
        p.alerts = alerts.ports();
        p.installedBuild = installed;
        p.currentVersion = "1.2";
        p.currentBuildText = "39";
        std::string url = server.url();
        p.feedURL = [url](batch::Edition) { return url; };
        checker = std::make_unique<ui::UpdateChecker>(batch::Edition::quorvel, p);
    }
    void feed(const std::string& version, int build, const std::string& url = "https://tembrook.com/q.zip") {
        server.body = QByteArray::fromStdString("{\"version\":\"" + version + "\",\"build\":" + std::to_string(build) +
                                                ",\"url\":\"" + url + "\",\"notes\":\"Faster <b>export</b>\"}");
    }
};

} // namespace

TEST(UpdateChecker, MenuCheckOffersOnlyNewerTrustedReleases) {
    struct Case {
        std::string version;
        int build;
        std::string url;
        bool offered;
    };
    for (const Case& c : {Case{"1.3", 1, "https://tembrook.com/q.zip", true}, Case{"1.2", 40, "https://tembrook.com/q.zip", true},
                          Case{"1.2", 39, "https://tembrook.com/q.zip", false}, Case{"1.1", 99, "https://tembrook.com/q.zip", false},
                          Case{"9.0", 1, "https://evil.example/q.zip", false}}) {
        Checker k;
        k.feed(c.version, c.build, c.url);
        k.checker->checkNow();
        ASSERT_TRUE(spinUntil([&] { return !k.alerts.informed.empty() || !k.alerts.offered.empty(); })) << c.version;
        EXPECT_EQ(k.alerts.offered.size(), c.offered ? 1u : 0u) << c.version << " " << c.url;
        if (c.offered) {
            EXPECT_EQ(k.alerts.offered[0].first, "Quorvel " + c.version + " is available");
            EXPECT_EQ(k.alerts.offered[0].second,
                      "Faster <b>export</b>\n\nYou have 1.2. The download opens in your browser; install the new "
                      "version to replace this one.");
            EXPECT_EQ(k.alerts.opened, std::vector<std::string>{c.url});
            EXPECT_EQ(k.checker->available()->version, c.version);
        } else {
            ASSERT_EQ(k.alerts.informed.size(), 1u);
            EXPECT_EQ(k.alerts.informed[0].first, "You're up to date");
            EXPECT_EQ(k.alerts.informed[0].second, "Quorvel 1.2 is the newest version.");
        }
        EXPECT_EQ(k.store.numbers.count("updates.lastCheck.quorvel"), 1u);
    }
}

TEST(UpdateChecker, ServerErrorsAreReportedByTheMenuCheckOnly) {
    for (QByteArray status : {QByteArray("500 Internal Server Error"), QByteArray("304 Not Modified")}) {
        Checker k;
        k.feed("9.0", 1);
        k.server.status = status;
        k.checker->checkNow();
        ASSERT_TRUE(spinUntil([&] { return !k.alerts.informed.empty(); }));
        EXPECT_EQ(k.alerts.informed[0].first, "Couldn't check for updates");
        EXPECT_EQ(k.store.numbers.count("updates.lastCheck.quorvel"), 0u);

        k.checker->checkInBackground();
        ASSERT_TRUE(spinUntil([&] { return k.server.requests == 2; }));
        spinUntil([] { return false; }, 200);
        EXPECT_EQ(k.alerts.informed.size(), 1u); // silent
        EXPECT_EQ(k.store.numbers.count("updates.lastCheck.quorvel"), 0u);
    }
}

TEST(UpdateChecker, AutomaticCheckRunsOncePerDayInAnInstalledBuildOnly) {
    {
        Checker k(false);
        k.feed("9.0", 1);
        k.checker->checkInBackground();
        spinUntil([] { return false; }, 300);
        EXPECT_EQ(k.server.requests, 0);
    }
    Checker k;
    k.feed("1.0", 1); // older: stored, no alert
    const double now = 2'000'000'000.0;
    k.store.numbers["updates.lastCheck.quorvel"] = now - 86400;
    k.checker->checkInBackground();
    spinUntil([] { return false; }, 300);
    EXPECT_EQ(k.server.requests, 0);
    k.now += std::chrono::seconds(1);
    k.checker->checkInBackground();
    ASSERT_TRUE(spinUntil([&] { return k.store.numbers["updates.lastCheck.quorvel"] > now; }));
    EXPECT_EQ(k.server.requests, 1);
    EXPECT_TRUE(k.alerts.informed.empty());
    EXPECT_TRUE(k.alerts.offered.empty());
}

TEST(UpdateChecker, OversizedBodyIsAFailure) {
    Checker k;
    k.server.body = QByteArray(ui::QtUpdateFetcher::kMaxBody + 10, ' ');
    k.checker->checkNow();
    ASSERT_TRUE(spinUntil([&] { return !k.alerts.informed.empty(); }));
    EXPECT_EQ(k.alerts.informed[0].first, "Couldn't check for updates");
}

TEST(QSettingsStore, RoundTripInARealSettingsFile) {
    testsupport::TempDir dir;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir.path().string()));
    ui::SettingsStore::StringMap settings = {{"chapters", "0:00 Intro\n5:00 Interview\n1:02:03 Outro"},
                                             {"targetLUFS", "-16.0"},
                                             {"title", "Ünïcode = \"quoted\""}};
    {
        ui::QSettingsStore store(std::make_unique<QSettings>("Tembrook", "QuorvelTest"));
        store.setStringMap("settings", settings);
        store.setText("namingPattern", "{show}_{ep:03}");
        store.setText("outputDirectory", "/tmp/out folder");
        store.setNumber("updates.lastCheck.quorvel", 1733700000.5);
        store.sync();
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "Tembrook" / "QuorvelTest.conf"));
    ui::QSettingsStore store(std::make_unique<QSettings>("Tembrook", "QuorvelTest"));
    EXPECT_EQ(store.stringMap("settings"), settings);
    EXPECT_EQ(store.text("namingPattern"), "{show}_{ep:03}");
    EXPECT_EQ(store.text("outputDirectory"), "/tmp/out folder");
    EXPECT_EQ(store.number("updates.lastCheck.quorvel"), 1733700000.5);
    EXPECT_FALSE(store.stringMap("missing").has_value());
    EXPECT_FALSE(store.text("missing").has_value());
    // A fresh save replaces the whole map: no stale keys survive.
    store.setStringMap("settings", {{"title", "x"}});
    EXPECT_EQ(store.stringMap("settings"), (ui::SettingsStore::StringMap{{"title", "x"}}));
}
