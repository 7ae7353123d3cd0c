#include "support/TestSupport.h"

#include <clocale>
#include <cstdlib>
#include <locale>

#include <gtest/gtest.h>

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

ScopedTmpDir::ScopedTmpDir(const fs::path& dir) {
    if (const char* old = std::getenv("TMPDIR")) previous_ = old;
    ::setenv("TMPDIR", dir.c_str(), 1);
}

ScopedTmpDir::~ScopedTmpDir() {
    if (previous_) ::setenv("TMPDIR", previous_->c_str(), 1);
    else ::unsetenv("TMPDIR");
}

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

} // namespace testsupport
