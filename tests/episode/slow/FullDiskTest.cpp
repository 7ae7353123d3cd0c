// A destination that fills up while each deliverable is written: the
// episode fails naming the system's reason, nothing appears under a final
// name for the deliverable that did not fit, and no work folder is left.

#include <cstdlib>
#include <optional>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/Files.h"
#include "episode/AudioVideoPipeline.h"
#include "support/SmallDisk.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using episode::AudioVideoPipeline;

constexpr std::uint64_t kPage = 4096;

std::uint64_t pages(std::uint64_t bytes) { return (bytes + kPage - 1) / kPage * kPage; }

std::vector<std::string> names(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

using testsupport::ScopedTmpDir;

class FullDisk : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testsupport::TempDir();
        testsupport::makeAudio(*dir_ / "in.wav", "sine=frequency=440:sample_rate=48000:duration=4");
        // The package on a roomy disk: its files and their sizes, in order.
        fs::create_directory(*dir_ / "tmp");
        const ScopedTmpDir tmp(*dir_ / "tmp");
        files_ = new std::vector<fs::path>(AudioVideoPipeline().processMultiFormat(request(*dir_ / "roomy"), {}, {}));
    }
    static void TearDownTestSuite() {
        delete files_;
        delete dir_;
    }

    static episode::MultiFormatExportRequest request(const fs::path& destination) {
        episode::MultiFormatExportRequest q(*dir_ / "in.wav", destination, "ep", {"T", "A", "Show", 1, {}, "N", 2026, {}},
                                            true, true, true, true, audio::LoudnessTarget::audibleACX());
        q.audiogramSeconds = 3;
        return q;
    }

    static testsupport::TempDir* dir_;
    static std::vector<fs::path>* files_;
};

testsupport::TempDir* FullDisk::dir_ = nullptr;
std::vector<fs::path>* FullDisk::files_ = nullptr;

TEST_F(FullDisk, EachDeliverableFailsCleanlyWhenTheDiskFillsUnderIt) {
    ASSERT_EQ(files_->size(), 5u); // master, ACX check, RSS, Whisper reference, audiogram
    std::uint64_t before = 0;
    for (std::size_t k = 0; k < files_->size(); ++k) {
        const std::uint64_t size = fs::file_size((*files_)[k]);
        SCOPED_TRACE((*files_)[k].filename().string());
        // Room for the earlier deliverables and half of this one (at least
        // a page short of it).
        const std::uint64_t room = before + std::min(pages(size / 2), pages(size) - kPage);
        testsupport::SmallDisk disk(std::max<std::uint64_t>(room, kPage));
        if (!disk.isTmpfs() && k > 0) GTEST_SKIP() << "without root only the first file can be tested";
        fs::create_directory(*dir_ / "tmp2");
        const ScopedTmpDir tmp(*dir_ / "tmp2");
        try {
            AudioVideoPipeline().processMultiFormat(request(disk.path()), {}, {});
            ADD_FAILURE() << "the episode did not fail";
        } catch (const core::Error& e) {
            EXPECT_NE(std::string(e.what()).find(disk.fullText()), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find("Export complete"), std::string::npos);
        }
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < k; ++i) expected.push_back((*files_)[i].filename().string());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names(disk.path()), expected);
        EXPECT_TRUE(fs::is_empty(*dir_ / "tmp2"));
        fs::remove_all(*dir_ / "tmp2");
        before += pages(size);
    }
}

} // namespace
