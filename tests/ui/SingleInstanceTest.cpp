#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include "WindowTestSupport.h"
#include "ui/EditionApp.h"
#include "ui/SingleInstance.h"

namespace fs = std::filesystem;

namespace {

// What an instance that crashed leaves: a socket file bound to nobody.
bool leaveStaleSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) ::close(fd);
    return bound && fs::exists(path);
}

} // namespace

// The running window here serves the socket the real program looks for; the
// program started a second time with two relative paths hands them over as
// absolute paths and ends with 0, and the window queues them.
TEST(SingleInstance, ASecondStartHandsItsFilesToTheRunningWindowAndEnds) {
    uitest::WindowRig rig;
    const fs::path runtime = rig.dir / "run";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    const QString name = ui::SingleInstance::serverName(QStringLiteral("quorvel"), QString::fromStdString(runtime.string()));
    EXPECT_TRUE(name.contains(QStringLiteral("quorvel")));
    EXPECT_TRUE(name.contains(QString::number(::getuid())));
    ASSERT_TRUE(leaveStaleSocket(name.toStdString()));

    ui::SingleInstance first(name);
    ASSERT_EQ(first.start({}), ui::SingleInstance::Role::primary);
    first.setReceiver(ui::edition_app::handOverTo(*rig.window, *rig.workspace));

    const fs::path a = rig.file("in/a.wav");
    const fs::path b = rig.file("in/b.mp3");
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime.string()));
    env.insert(QStringLiteral("HOME"), QString::fromStdString((rig.dir / "home").string()));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((rig.dir / "config").string()));
    second.setProcessEnvironment(env);
    second.setWorkingDirectory(QString::fromStdString((rig.dir / "in").string()));
    second.start(QStringLiteral(QUORVEL_PROGRAM), {QStringLiteral("a.wav"), QStringLiteral("b.mp3")});
    ASSERT_TRUE(second.waitForStarted());
    // The event loop runs meanwhile: the window answers the second start.
    const bool ended = QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 60000);
    if (!ended) {
        second.kill();
        second.waitForFinished();
    }
    ASSERT_TRUE(ended) << "the second start kept running";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(fs::exists(rig.dir / "config" / "Tembrook")); // it opened no window of its own

    EXPECT_EQ(rig.workspace->ingested, (std::vector<std::vector<fs::path>>{{a}, {b}}));
    ASSERT_TRUE(rig.poster.pumpUntil([&] { return rig.model->queueItems().size() == 2; }));
    EXPECT_EQ(rig.model->queueItems()[0].sourceURL, a);
    EXPECT_EQ(rig.model->queueItems()[1].sourceURL, b);
}
