#include "support/TestSupport.h"

#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <locale>

#include <gtest/gtest.h>

#include "core/StopSignal.h"

namespace testsupport {

core::ChildResult tryTool(const std::vector<std::string>& argv) { return core::runChildProcess(argv, true); }

core::ChildResult runTool(const std::vector<std::string>& argv) {
    auto result = tryTool(argv);
    EXPECT_TRUE(result.succeeded()) << argv[0] << " failed:\n" << result.output;
    return result;
}

void makeAudio(const fs::path& out, const std::string& lavfi, const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                                     "-f", "lavfi", "-i", lavfi};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(out.string());
    runTool(argv);
}

void putXmpPackets(const std::vector<std::pair<fs::path, std::string>>& packets) {
    if (packets.empty()) return;
    std::string arguments;
    for (const auto& [picture, packet] : packets) {
        fs::path text = picture;
        text += ".xmp";
        core::writeFileAtomically(text, packet);
        arguments += "-overwrite_original\n-xmp<=" + text.string() + "\n" + picture.string() + "\n-execute\n";
    }
    const fs::path list = packets.front().first.parent_path() / "exiftool-arguments.txt";
    core::writeFileAtomically(list, arguments);
    runTool({"exiftool", "-q", "-@", list.string()});
}

std::string xmpPacketOf(const fs::path& file) {
    const std::string text = core::readFile(file);
    const auto start = text.find("<x:xmpmeta"), end = text.find("</x:xmpmeta>");
    return start == std::string::npos || end == std::string::npos ? std::string() : text.substr(start, end - start);
}

ScopedTmpDir::ScopedTmpDir(const fs::path& dir) {
    if (const char* old = std::getenv("TMPDIR")) previous_ = old;
    ::setenv("TMPDIR", dir.c_str(), 1);
}

ScopedTmpDir::~ScopedTmpDir() {
    if (previous_) ::setenv("TMPDIR", previous_->c_str(), 1);
    else ::unsetenv("TMPDIR");
}

StopLoweredAtExit::~StopLoweredAtExit() { core::clearStopRequest(); }

CommaDecimalLocale::CommaDecimalLocale() {
    const char* cur = std::setlocale(LC_ALL, nullptr);
    previous_ = cur ? cur : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_ALL, name)) {
            available_ = true;
            try {
                std::locale::global(std::locale(name));
            } catch (...) {
            }
            break;
        }
    }
}

CommaDecimalLocale::~CommaDecimalLocale() {
    std::setlocale(LC_ALL, previous_.c_str());
    std::locale::global(std::locale::classic());
}

bool killedMidway(const std::function<void(const std::function<void()>& killNow)>& body) {
    int ready[2];
    if (::pipe(ready) != 0) return false;
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::close(ready[0]);
        body([&] {
            const char byte = 1;
            [[maybe_unused]] auto n = ::write(ready[1], &byte, 1);
            ::pause();
        });
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool reached = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return reached;
}

} // namespace testsupport
