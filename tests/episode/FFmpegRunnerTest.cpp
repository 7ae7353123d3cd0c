#include "episode/FFmpegRunner.h"

#include <sys/stat.h>

#include <fstream>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ChildProcess.h"
#include "support/TestSupport.h"

namespace {

using episode::FFmpegRunner;
namespace fs = std::filesystem;

fs::path script(const fs::path& path, const std::string& body, bool executable = true) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, executable ? fs::perms(0755) : fs::perms(0644));
    return path;
}

struct Run {
    std::vector<std::string> logs;
    std::optional<FFmpegRunner::FFmpegError> error;
};

Run run(const fs::path& binary, const std::vector<std::string>& args = {}) {
    Run r;
    FFmpegRunner runner({binary});
    try {
        runner.execute(args, [&](const std::string& text) { r.logs.push_back(text); });
    } catch (const FFmpegRunner::FFmpegError& e) {
        r.error = e;
    }
    return r;
}

TEST(FFmpegRunner, FirstRegularExecutableCandidateWins) {
    testsupport::TempDir dir;
    fs::create_directories(dir / "folder/ffmpeg"); // a folder has execute bits but is no program
    const auto notExecutable = script(dir / "plain", "exit 0", false);
    const auto first = script(dir / "first", "exit 0");
    const auto second = script(dir / "second", "exit 0");
    FFmpegRunner runner({dir / "missing", dir / "folder/ffmpeg", notExecutable, first, second});
    EXPECT_EQ(runner.locateFFmpegBinary(), first);
    EXPECT_TRUE(runner.isFFmpegAvailable());
}

TEST(FFmpegRunner, LookupIsNotCached) {
    testsupport::TempDir dir;
    FFmpegRunner runner({dir / "ffmpeg"});
    EXPECT_FALSE(runner.isFFmpegAvailable());
    script(dir / "ffmpeg", "exit 0");
    EXPECT_TRUE(runner.isFFmpegAvailable());
}

TEST(FFmpegRunner, NothingFoundIsBinaryNotFound) {
    FFmpegRunner runner(std::vector<fs::path>{});
    EXPECT_FALSE(runner.isFFmpegAvailable());
    try {
        runner.execute({"-version"});
        FAIL() << "no error";
    } catch (const FFmpegRunner::FFmpegError& e) {
        EXPECT_EQ(e.kind(), FFmpegRunner::FFmpegError::Kind::binaryNotFound);
        EXPECT_STREQ(e.what(), "FFmpeg binary was not found. Please bundle it or install via 'apt install ffmpeg'.");
    }
}

TEST(FFmpegRunner, DefaultSearchOrderStartsBesideTheProgram) {
    const auto list = FFmpegRunner::defaultCandidates();
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0], fs::read_symlink("/proc/self/exe").parent_path() / "ffmpeg");
    EXPECT_EQ(list[1], "/opt/homebrew/bin/ffmpeg");
    EXPECT_EQ(list[2], "/usr/local/bin/ffmpeg");
    EXPECT_EQ(list[3], "/opt/local/bin/ffmpeg");
    EXPECT_EQ(list[4], "/usr/bin/ffmpeg");
    // This machine has Debian's FFmpeg.
    EXPECT_TRUE(FFmpegRunner::shared().isFFmpegAvailable());
}

TEST(FFmpegRunner, LeadingArgumentsComeFirstAndArgumentsPassUnchanged) {
    testsupport::TempDir dir;
    const auto echo = script(dir / "ffmpeg", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done");
    const auto r = run(echo, {"a b", "-x", "*", "$HOME", "é=\"q\""});
    EXPECT_FALSE(r.error);
    ASSERT_EQ(r.logs.size(), 1u);
    EXPECT_EQ(r.logs[0], "[-hide_banner]\n[-nostdin]\n[-loglevel]\n[error]\n[-xerror]\n[a b]\n[-x]\n[*]\n[$HOME]\n[é=\"q\"]\n");
}

struct ExitCase {
    std::string body;
    std::int32_t exitCode;
    std::string message;
    std::string description;
    bool logged;
};
void PrintTo(const ExitCase& c, std::ostream* os) { *os << fmt::format("exit{}", c.exitCode); }

class FFmpegRunnerExit : public testing::TestWithParam<ExitCase> {};

TEST_P(FFmpegRunnerExit, FailsWithTheLastThreeLines) {
    testsupport::TempDir dir;
    const auto& c = GetParam();
    const auto r = run(script(dir / "ffmpeg", c.body));
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->kind(), FFmpegRunner::FFmpegError::Kind::executionFailed);
    EXPECT_EQ(r.error->exitCode(), c.exitCode);
    EXPECT_EQ(r.error->message(), c.message);
    EXPECT_EQ(r.error->what(), c.description);
    EXPECT_EQ(r.logs.size(), c.logged ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FFmpegRunnerExit,
    testing::Values(ExitCase{"printf 'a\\n\\nb\\nc\\nd\\n'; exit 1", 1, "b | c | d", "FFmpeg failed (exit 1): b | c | d", true},
                    ExitCase{"exit 3", 3, "", "FFmpeg failed (exit 3)", false},
                    ExitCase{"echo out; echo err >&2; exit 2", 2, "out | err", "FFmpeg failed (exit 2): out | err", true},
                    ExitCase{"printf 'bad \\377 byte'; exit 4", 4, "bad \xEF\xBF\xBD byte",
                             "FFmpeg failed (exit 4): bad \xEF\xBF\xBD byte", true},
                    // libav's "[name @ 0x…]" contexts are left out.
                    ExitCase{"echo '[mp3 @ 0x55fc64cf3900] Failed to read frame size' >&2; "
                             "echo '[in#0/mp3 @ 0x7f01] Error opening input: Invalid argument' >&2; exit 1",
                             1, "Failed to read frame size | Error opening input: Invalid argument",
                             "FFmpeg failed (exit 1): Failed to read frame size | Error opening input: Invalid argument",
                             true},
                    // Killed by a signal: a failure carrying the signal's number, never status 0.
                    ExitCase{"echo dying; kill -9 $$", 9, "dying", "FFmpeg failed (exit 9): dying", true}));

TEST(FFmpegRunner, SuccessWithOutputLogsItOnce) {
    testsupport::TempDir dir;
    const auto r = run(script(dir / "ffmpeg", "echo one; echo two >&2; exit 0"));
    EXPECT_FALSE(r.error);
    ASSERT_EQ(r.logs.size(), 1u);
    EXPECT_EQ(r.logs[0], "one\ntwo\n");
}

TEST(FFmpegRunner, SilentSuccessMakesNoLogCall) {
    testsupport::TempDir dir;
    const auto r = run(script(dir / "ffmpeg", "exit 0"));
    EXPECT_FALSE(r.error);
    EXPECT_TRUE(r.logs.empty());
}

TEST(FFmpegRunner, LaunchFailureIsThePlatformError) {
    testsupport::TempDir dir;
    // Executable but not a program the system can start.
    std::ofstream(dir / "ffmpeg") << "\x7f" "ELF garbage";
    fs::permissions(dir / "ffmpeg", fs::perms(0755));
    FFmpegRunner runner({dir / "ffmpeg"});
    bool logged = false;
    EXPECT_THROW(runner.execute({}, [&](const std::string&) { logged = true; }), core::ChildProcessError);
    EXPECT_FALSE(logged);
}

TEST(FFmpegRunner, ChattyChildDoesNotBlock) {
    testsupport::TempDir dir;
    // Far more than a pipe holds, on both streams.
    const auto r = run(script(dir / "ffmpeg", "i=0; while [ $i -lt 3000 ]; do echo line$i; echo err$i >&2; i=$((i+1)); done; exit 0"));
    EXPECT_FALSE(r.error);
    ASSERT_EQ(r.logs.size(), 1u);
    EXPECT_NE(r.logs[0].find("err2999\n"), std::string::npos);
}

TEST(FFmpegRunner, RunsTheRealFFmpeg) {
    EXPECT_NO_THROW(FFmpegRunner::shared().execute({"-f", "lavfi", "-i", "anullsrc", "-t", "0.1", "-f", "null", "-"}));
    try {
        FFmpegRunner::shared().execute({"-i", "/nonexistent/file.wav", "-f", "null", "-"});
        FAIL() << "no error";
    } catch (const FFmpegRunner::FFmpegError& e) {
        EXPECT_NE(e.exitCode(), 0);
        EXPECT_NE(e.message().find("/nonexistent/file.wav"), std::string::npos);
    }
}

} // namespace

namespace {

// FFmpeg 5 exits with 0 when its trailer cannot be written; the run still fails.
TEST(FFmpegRunner, WriteErrorWithExitZeroFails) {
    testsupport::TempDir dir;
    const auto binary =
        script(dir / "ffmpeg", "echo '[mp3 @ 0x1] Error writing trailer of out.mp3: No space left on device' >&2; exit 0");
    const auto r = run(binary);
    ASSERT_TRUE(r.error.has_value());
    EXPECT_EQ(r.error->kind(), FFmpegRunner::FFmpegError::Kind::executionFailed);
    EXPECT_NE(std::string(r.error->what()).find("No space left on device"), std::string::npos);
}

} // namespace
