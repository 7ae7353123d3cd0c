#include "core/WorkArea.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "core/Files.h"
#include "core/Uuid.h"
#include "support/SmallDisk.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> names(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

bool lockedByOthers(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return busy;
}

TEST(AtomicFile, TemporaryNameIsShortHiddenAndLocked) {
    testsupport::TempDir dir;
    for (const std::string& name : {std::string("a.txt"), std::string(250, 'x') + ".wav"}) {
        core::AtomicFile file(dir / name);
        const std::string temp = file.tempPath().filename().string();
        EXPECT_EQ(temp.size(), 21u) << temp; // ".qv-" + 12 hex digits + ".part"
        EXPECT_EQ(temp.rfind(".qv-", 0), 0u);
        EXPECT_TRUE(core::AtomicFile::isTemporaryName(temp));
        EXPECT_EQ(file.tempPath().parent_path(), dir.path());
        // Held while in use, so a start-up sweep leaves it alone.
        EXPECT_TRUE(lockedByOthers(file.tempPath()));
        std::ofstream(file.tempPath()) << "whole";
        file.commit();
        EXPECT_EQ(core::readFile(dir / name), "whole");
    }
    for (const char* other : {".qv-0123456789ab.tmp", ".a.txt.12345678.part", ".qv-0123456789AB.part",
                              ".qv-0123456789a.part", "qv-0123456789ab.part"})
        EXPECT_FALSE(core::AtomicFile::isTemporaryName(other)) << other;
}

TEST(LockedWorkFolder, NamedByUuidPrivateLockedAndRemoved) {
    testsupport::TempDir root;
    fs::path kept;
    {
        core::LockedWorkFolder work("Quorvel", root.path());
        kept = work.path();
        const std::string name = kept.filename().string();
        ASSERT_EQ(name.size(), 8u + 36u);
        EXPECT_EQ(name.substr(0, 8), "Quorvel-");
        EXPECT_TRUE(core::Uuid::parse(name.substr(8)).has_value());
        struct stat st {};
        ASSERT_EQ(::stat(kept.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_TRUE(lockedByOthers(kept / "run.lock"));
    }
    EXPECT_FALSE(fs::exists(kept));
}

TEST(LockedWorkFolder, HonoursTmpdirAsAnAbsolutePath) {
    testsupport::TempDir dir;
    const char* old = std::getenv("TMPDIR");
    const std::optional<std::string> previous = old ? std::optional<std::string>(old) : std::nullopt;
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    fs::create_directory("-tmp");
    ::setenv("TMPDIR", "-tmp", 1);
    const fs::path t = core::temporaryDirectory();
    fs::current_path(cwd);
    if (previous) ::setenv("TMPDIR", previous->c_str(), 1);
    else ::unsetenv("TMPDIR");
    EXPECT_TRUE(t.is_absolute());
    EXPECT_EQ(t, dir.path() / "-tmp");
}

// A run killed with SIGKILL: its work folder and its temporary file in the
// output folder stay behind. A live run has the same. The sweep removes the
// first and leaves the second, and nothing else.
TEST(SweepLeftovers, RemovesADeadRunsLeftoversAndLeavesALiveRunAlone) {
    testsupport::TempDir root, out;
    ASSERT_TRUE(testsupport::killedMidway([&](const std::function<void()>& killNow) {
        auto* work = new core::LockedWorkFolder("Quorvel", root.path());
        work->noteOutputFolder(out.path());
        std::ofstream(work->path() / "episode.wav") << "work";
        auto* part = new core::AtomicFile(out.path() / "dead_Master.wav");
        std::ofstream(part->tempPath()) << "partial";
        killNow();
    }));

    core::LockedWorkFolder live("Quorvel", root.path());
    live.noteOutputFolder(out.path());
    core::AtomicFile livePart(out.path() / "live_Master.wav");
    // Things that are not ours stay whatever they look like.
    fs::create_directory(root / "Quorvel-not-a-uuid");
    fs::create_directory(root / "quorvel-test-abc");
    std::ofstream(out / ".ep.wav.1234abcd.part") << "someone else's";
    std::ofstream(out / "ep_Master.wav") << "keep";

    ASSERT_EQ(names(root.path()).size(), 4u);
    ASSERT_EQ(names(out.path()).size(), 4u);
    const core::SweepResult swept = core::sweepLeftovers("Quorvel", root.path());
    EXPECT_EQ(swept.removedFolders.size(), 1u);
    EXPECT_EQ(swept.removedFiles.size(), 1u);

    EXPECT_EQ(names(root.path()),
              (std::vector<std::string>{live.path().filename().string(), "Quorvel-not-a-uuid", "quorvel-test-abc"}));
    EXPECT_EQ(names(out.path()), (std::vector<std::string>{".ep.wav.1234abcd.part", livePart.tempPath().filename().string(),
                                                          "ep_Master.wav"}));
    EXPECT_TRUE(fs::exists(live.path() / "run.lock"));
}

TEST(SweepLeftovers, UnlockedFolderOnlyOnceItIsOld) {
    testsupport::TempDir root;
    const fs::path young = root / ("Quorvel-" + core::Uuid::random().text());
    const fs::path old = root / ("Quorvel-" + core::Uuid::random().text());
    fs::create_directory(young);
    fs::create_directory(old);
    fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(2));
    core::sweepLeftovers("Quorvel", root.path());
    EXPECT_TRUE(fs::exists(young));
    EXPECT_FALSE(fs::exists(old));
}

TEST(FilesOnAFullDisk, TheSystemsReasonIsNamed) {
    testsupport::TempDir dir;
    const std::string big(256 * 1024, 'x');
    core::writeFileAtomically(dir / "big.bin", big);
    testsupport::SmallDisk disk(64 * 1024);
    for (int which = 0; which < 2; ++which) {
        try {
            if (which == 0) {
                core::writeFileAtomically(disk.path() / "out.bin", big);
            } else {
                core::AtomicFile file(disk.path() / "copy.bin");
                core::copyFileContents(dir / "big.bin", file.tempPath(), file.finalPath());
                file.commit();
            }
            ADD_FAILURE() << "no error";
        } catch (const core::FileError& e) {
            EXPECT_NE(std::string(e.what()).find(disk.fullText()), std::string::npos) << e.what();
        }
        EXPECT_TRUE(fs::is_empty(disk.path()));
    }
}

} // namespace
