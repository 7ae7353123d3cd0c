#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>

#include <gtest/gtest.h>

#include "batch/BatchConfiguration.h"
#include "batch/BatchItem.h"
#include "batch/BatchPreset.h"
#include "batch/BatchSkip.h"
#include "batch/ExecutionReport.h"
#include "batch/ProcessingJob.h"
#include "core/Numbers.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using batch::BatchConfiguration;
using batch::BatchItem;
using batch::ExecutionReport;
using batch::ProcessingJob;
using batch::ProcessingStatus;

BatchItem itemAt(const fs::path& path) { return BatchItem(core::Uuid::random(), path); }

// --- ProcessingStatus -------------------------------------------------------

TEST(ProcessingStatus, TextsRoundTripInDeclarationOrder) {
    const std::vector<std::string> texts = {"Pending", "Processing", "Completed", "Failed", "Skipped", "Cancelled"};
    auto all = batch::allProcessingStatuses();
    ASSERT_EQ(all.size(), texts.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(batch::rawValue(all[i]), texts[i]);
        EXPECT_EQ(batch::processingStatusFromRaw(texts[i]), all[i]);
        EXPECT_EQ(batch::isTerminal(all[i]), i >= 2) << texts[i];
    }
}

TEST(ProcessingStatus, OtherTextsGiveNoStatus) {
    for (const char* text : {"completed", "COMPLETED", " Completed", "Completed ", "", "Done"})
        EXPECT_FALSE(batch::processingStatusFromRaw(text).has_value()) << text;
}

// --- BatchItem --------------------------------------------------------------

TEST(BatchItem, NameAndExtensionFromTheLastComponent) {
    BatchItem item = itemAt("/x/Episode.Final.WAV");
    EXPECT_EQ(item.originalFileName, "Episode.Final");
    EXPECT_EQ(item.fileExtension, "wav");
    EXPECT_EQ(item.fileSize, 0); // no such file, no error
    EXPECT_EQ(item.status, ProcessingStatus::pending);
    EXPECT_FALSE(item.completedAt.has_value());
    EXPECT_FALSE(item.destinationURL.has_value());

    BatchItem bare = itemAt("/x/README");
    EXPECT_EQ(bare.originalFileName, "README");
    EXPECT_EQ(bare.fileExtension, "");
}

TEST(BatchItem, SizeIsReadFromTheFile) {
    testsupport::TempDir dir;
    fs::path file = dir / "talk.final.mp3";
    std::ofstream(file, std::ios::binary) << std::string(1234, 'x');
    BatchItem item = itemAt(file);
    EXPECT_EQ(item.fileSize, 1234);
    EXPECT_EQ(item.originalFileName, "talk.final");
    EXPECT_EQ(item.fileExtension, "mp3");
    EXPECT_EQ(item.formattedFileSize(), "1 KB");
    EXPECT_EQ(itemAt(dir.path()).fileSize, 0); // a folder has no file size
}

TEST(BatchItem, EqualityCoversMutableFieldsAndCopiesAreIndependent) {
    BatchItem a = itemAt("/x/a.wav");
    BatchItem b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<BatchItem>{}(a), std::hash<BatchItem>{}(b));
    b.metadata["show"] = "Weekly";
    EXPECT_NE(a, b);
    EXPECT_TRUE(a.metadata.empty());
    b = a;
    b.progress = 0.5;
    EXPECT_NE(a, b);
}

struct SizeCase {
    std::int64_t bytes;
    const char* text;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.bytes; }

class FormattedFileSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FormattedFileSize, DecimalFileStyle) {
    EXPECT_EQ(batch::formatByteCount(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FormattedFileSize,
                         ::testing::Values(SizeCase{0, "Zero KB"}, SizeCase{1, "1 byte"},
                                           SizeCase{532, "532 bytes"}, SizeCase{999, "999 bytes"},
                                           SizeCase{1000, "1 KB"}, SizeCase{1499, "1 KB"},
                                           SizeCase{1500, "2 KB"}, SizeCase{999499, "999 KB"},
                                           SizeCase{999500, "1 MB"}, SizeCase{1000000, "1 MB"},
                                           SizeCase{1500000, "1.5 MB"}, SizeCase{10485760, "10.5 MB"},
                                           SizeCase{2340000000, "2.34 GB"}, SizeCase{3000000000000, "3 TB"}));

TEST(FormattedFileSizeLocale, IgnoresACommaDecimalLocale) {
    testsupport::CommaDecimalLocale comma;
    if (!comma.available()) GTEST_SKIP() << "no comma-decimal locale installed";
    EXPECT_EQ(batch::formatByteCount(1500000), "1.5 MB");
}

// --- BatchConfiguration -----------------------------------------------------

BatchConfiguration configWith(int tasks) {
    return BatchConfiguration("/out", false, "{name}", true, tasks, true, false, {{"k", "v"}});
}

TEST(BatchConfiguration, ConstructorClampsTheBound) {
    const int n = core::activeProcessorCount();
    EXPECT_EQ(configWith(0).maxConcurrentTasks, 1);
    EXPECT_EQ(configWith(-7).maxConcurrentTasks, 1);
    EXPECT_EQ(configWith(1).maxConcurrentTasks, 1);
    EXPECT_EQ(configWith(2 * n).maxConcurrentTasks, 2 * n);
    EXPECT_EQ(configWith(2 * n + 1).maxConcurrentTasks, 2 * n);
    EXPECT_EQ(configWith(std::numeric_limits<int>::max()).maxConcurrentTasks, 2 * n);
    BatchConfiguration c = configWith(1);
    EXPECT_EQ(c.outputDirectory, fs::path("/out"));
    EXPECT_FALSE(c.createSubfolders);
    EXPECT_EQ(c.namingPattern, "{name}");
    EXPECT_TRUE(c.overwriteExisting);
    EXPECT_TRUE(c.deleteSourceAfterSuccess);
    EXPECT_FALSE(c.notifyOnCompletion);
    EXPECT_EQ(c.customSettings.at("k"), "v");
}

// Points HOME, XDG_CONFIG_HOME and TMPDIR into a fresh folder for one test
// (each test runs in its own process).
class DefaultConfiguration : public ::testing::Test {
protected:
    void SetUp() override {
        home = dir / "home";
        fs::create_directories(home / ".config");
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_DOWNLOAD_DIR");
        fs::create_directories(dir / "tmp");
        setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    }
    void writeUserDirs(const std::string& text) { std::ofstream(home / ".config" / "user-dirs.dirs") << text; }

    testsupport::TempDir dir;
    fs::path home;
};

TEST_F(DefaultConfiguration, FieldsAndTheHomeDownloadsFolderBeforeItExists) {
    BatchConfiguration c = BatchConfiguration::defaultConfiguration();
    EXPECT_EQ(c.outputDirectory, home / "Downloads" / "BatchOutput");
    EXPECT_FALSE(fs::exists(home / "Downloads")); // nothing is created
    EXPECT_EQ(c.namingPattern, "{name}_{index:02}");
    EXPECT_EQ(c.maxConcurrentTasks, core::activeProcessorCount());
    EXPECT_TRUE(c.createSubfolders);
    EXPECT_FALSE(c.overwriteExisting);
    EXPECT_FALSE(c.deleteSourceAfterSuccess);
    EXPECT_TRUE(c.notifyOnCompletion);
    EXPECT_TRUE(c.customSettings.empty());
}

TEST_F(DefaultConfiguration, UsesTheHomeDownloadsFolderWhenItExists) {
    fs::create_directories(home / "Downloads");
    EXPECT_EQ(BatchConfiguration::defaultConfiguration().outputDirectory, home / "Downloads" / "BatchOutput");
}

TEST_F(DefaultConfiguration, UserDirsSettingWins) {
    fs::create_directories(home / "Downloads");
    writeUserDirs("# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                  "XDG_DOWNLOAD_DIR=\"$HOME/Herunterladen\"\n");
    EXPECT_EQ(BatchConfiguration::defaultConfiguration().outputDirectory, home / "Herunterladen" / "BatchOutput");
    writeUserDirs("XDG_DOWNLOAD_DIR=\"/srv/incoming/\"\n");
    EXPECT_EQ(BatchConfiguration::defaultConfiguration().outputDirectory, fs::path("/srv/incoming/BatchOutput"));
    // A setting naming the home folder itself means "not configured".
    writeUserDirs("XDG_DOWNLOAD_DIR=\"$HOME/\"\n");
    EXPECT_EQ(BatchConfiguration::defaultConfiguration().outputDirectory, home / "Downloads" / "BatchOutput");
}

TEST_F(DefaultConfiguration, HonoursXdgConfigHomeAndTheEnvironment) {
    fs::create_directories(dir / "cfg");
    setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
    std::ofstream(dir / "cfg" / "user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"$HOME/dl\"\n";
    EXPECT_EQ(BatchConfiguration::defaultConfiguration().outputDirectory, home / "dl" / "BatchOutput");
    fs::remove(dir / "cfg" / "user-dirs.dirs");
    setenv("XDG_DOWNLOAD_DIR", "/data/dl", 1);
    EXPECT_EQ(BatchConfiguration::defaultConfiguration().outputDirectory, fs::path("/data/dl/BatchOutput"));
}

TEST(BatchConfigurationJson, RoundTripWithFileURLAndNoClampOnReading) {
    BatchConfiguration c = configWith(3);
    c.outputDirectory = "/home/ann/My Shows";
    c.maxConcurrentTasks = 1000; // set afterwards: the reader keeps it as written
    c.customSettings = {{"loudness", "-16"}, {"ümlaut", "ja"}};
    core::Json json = c.toJson();
    EXPECT_EQ(json.at("outputDirectory"), "file:///home/ann/My%20Shows/");
    EXPECT_TRUE(json.at("maxConcurrentTasks").is_number_integer());
    EXPECT_EQ(json.size(), 8u);
    BatchConfiguration back = BatchConfiguration::fromJson(core::parseJson(core::dumpJson(json)));
    EXPECT_EQ(back, c);
    EXPECT_EQ(back.maxConcurrentTasks, 1000);
}

class BatchConfigurationJsonKeys : public ::testing::TestWithParam<const char*> {};

TEST_P(BatchConfigurationJsonKeys, MissingKeyFails) {
    core::Json json = configWith(2).toJson();
    json.erase(GetParam());
    EXPECT_THROW(BatchConfiguration::fromJson(json), core::JsonShapeError);
}

INSTANTIATE_TEST_SUITE_P(AllEight, BatchConfigurationJsonKeys,
                         ::testing::Values("outputDirectory", "createSubfolders", "namingPattern",
                                           "overwriteExisting", "maxConcurrentTasks", "deleteSourceAfterSuccess",
                                           "notifyOnCompletion", "customSettings"));

TEST(BatchConfigurationJson, WrongTypesFail) {
    const std::vector<std::pair<const char*, core::Json>> wrong = {
        {"outputDirectory", "/not/a/url"}, {"outputDirectory", 5},     {"createSubfolders", 1},
        {"namingPattern", nullptr},        {"maxConcurrentTasks", "4"}, {"maxConcurrentTasks", 4.5},
        {"customSettings", core::Json{{"a", 1}}},                       {"notifyOnCompletion", "true"},
    };
    for (const auto& [key, value] : wrong) {
        core::Json json = configWith(2).toJson();
        json[key] = value;
        EXPECT_THROW(BatchConfiguration::fromJson(json), core::JsonShapeError) << key << " = " << value.dump();
    }
    EXPECT_THROW(BatchConfiguration::fromJson(core::Json::array()), core::JsonShapeError);
}

// --- ProcessingJob ----------------------------------------------------------

TEST(ProcessingJob, DerivedCounts) {
    ProcessingJob empty(core::Uuid::random(), "p", "P", {}, configWith(1));
    EXPECT_EQ(empty.totalItems(), 0);
    EXPECT_EQ(empty.overallProgress(), 0);
    EXPECT_EQ(empty.completedItemsCount(), 0);
    EXPECT_EQ(empty.failedItemsCount(), 0);
    EXPECT_FALSE(empty.finishedAt.has_value());

    std::vector<BatchItem> items;
    const std::vector<std::pair<ProcessingStatus, double>> states = {{ProcessingStatus::completed, 1.0},
                                                                     {ProcessingStatus::failed, 0.5},
                                                                     {ProcessingStatus::skipped, 0.0},
                                                                     {ProcessingStatus::cancelled, 0.0}};
    for (const auto& [status, progress] : states)
        items.emplace_back(core::Uuid::random(), "/x/a.wav", std::nullopt, status, progress);
    ProcessingJob job(core::Uuid::random(), "p", "P", items, configWith(1));
    EXPECT_EQ(job.totalItems(), 4);
    EXPECT_EQ(job.completedItemsCount(), 1);
    EXPECT_EQ(job.failedItemsCount(), 1);
    EXPECT_DOUBLE_EQ(job.overallProgress(), 1.5 / 4);
    job.items.pop_back();
    EXPECT_DOUBLE_EQ(job.overallProgress(), 0.5);
}

TEST(ProcessingJob, RepeatedItemIdIsRefused) {
    BatchItem a = itemAt("/x/a.wav");
    BatchItem b = itemAt("/x/b.wav");
    EXPECT_NO_THROW(ProcessingJob(core::Uuid::random(), "p", "P", {a, b}, configWith(1)));
    try {
        ProcessingJob(core::Uuid::random(), "p", "P", {a, b, a}, configWith(1));
        FAIL() << "a repeated id was accepted";
    } catch (const ProcessingJob::JobError& error) {
        EXPECT_EQ(std::string(error.what()), "The job lists the item " + a.id.text() + " more than once.");
    }
}

// --- ExecutionReport --------------------------------------------------------

ExecutionReport sampleReport() {
    core::Date when = core::dateFromSecondsSince2001(786000000.125);
    return ExecutionReport{core::Uuid::random(), "podcast", "Podcast Episode", 3, 1, 1, 1, 10485760, 2.0, when,
                           {"ep1_01.wav", "ep1_01.mp3"}, {"Disk full"}};
}

TEST(ExecutionReport, Throughput) {
    ExecutionReport r = sampleReport();
    EXPECT_DOUBLE_EQ(r.throughputMegabytesPerSec(), 5.0);
    for (double d : {0.0, -1.0, std::nan("")}) {
        r.durationSeconds = d;
        EXPECT_EQ(r.throughputMegabytesPerSec(), 0.0) << d;
    }
    ExecutionReport zeros{};
    EXPECT_EQ(zeros.throughputMegabytesPerSec(), 0.0);
}

TEST(ExecutionReportJson, RoundTripAndForms) {
    ExecutionReport r = sampleReport();
    core::Json json = r.toJson();
    EXPECT_EQ(json.size(), 12u);
    const std::string id = json.at("id");
    EXPECT_EQ(id.size(), 36u);
    EXPECT_EQ(id, r.id.text());
    EXPECT_EQ(id.find_first_of("abcdef"), std::string::npos);
    EXPECT_DOUBLE_EQ(json.at("timestamp").get<double>(), 786000000.125);
    EXPECT_TRUE(json.at("bytesProcessed").is_number_integer());
    EXPECT_FALSE(json.contains("throughputMegabytesPerSec"));
    ExecutionReport back = ExecutionReport::fromJson(core::parseJson(core::dumpJson(json)));
    EXPECT_EQ(back, r);
    // Seconds since 2001-01-01 00:00:00 UTC: one day later is 86400.
    EXPECT_EQ(core::Clock::to_time_t(ExecutionReport::fromJson([&] {
                  core::Json j = json;
                  j["timestamp"] = 86400;
                  return j;
              }()).timestamp),
              978307200 + 86400);
}

class ExecutionReportJsonKeys : public ::testing::TestWithParam<const char*> {};

TEST_P(ExecutionReportJsonKeys, MissingKeyFails) {
    core::Json json = sampleReport().toJson();
    json.erase(GetParam());
    EXPECT_THROW(ExecutionReport::fromJson(json), core::JsonShapeError);
}

INSTANTIATE_TEST_SUITE_P(AllTwelve, ExecutionReportJsonKeys,
                         ::testing::Values("id", "presetID", "presetName", "totalProcessed", "successCount",
                                           "failureCount", "skippedCount", "bytesProcessed", "durationSeconds",
                                           "timestamp", "outputFiles", "errors"));

TEST(ExecutionReportJson, WrongTypesFail) {
    const std::vector<std::pair<const char*, core::Json>> wrong = {
        {"id", "not-a-uuid"}, {"successCount", 1.5},        {"bytesProcessed", "10"},
        {"timestamp", "2001"}, {"outputFiles", "a.wav"},    {"errors", core::Json::array({1})},
        {"durationSeconds", true}, {"presetName", 3},
    };
    for (const auto& [key, value] : wrong) {
        core::Json json = sampleReport().toJson();
        json[key] = value;
        EXPECT_THROW(ExecutionReport::fromJson(json), core::JsonShapeError) << key << " = " << value.dump();
    }
}

// --- BatchPreset and BatchSkip ----------------------------------------------

class ExtensionPreset : public batch::BatchPreset {
public:
    explicit ExtensionPreset(std::set<std::string> extensions) : extensions_(std::move(extensions)) {}
    std::string id() const override { return "ext"; }
    std::string displayName() const override { return "Ext"; }
    std::string verticalName() const override { return "Test"; }
    std::string description() const override { return ""; }
    std::string systemIconName() const override { return ""; }
    std::set<std::string> supportedExtensions() const override { return extensions_; }
    std::string defaultNamingPattern() const override { return "{name}"; }
    std::vector<fs::path> process(const BatchItem&, const batch::ProcessingContext&) const override { return {}; }

private:
    std::set<std::string> extensions_;
};

TEST(BatchPreset, CanProcessComparesTheLowerCaseExtension) {
    EXPECT_TRUE(ExtensionPreset({"wav", "mp3"}).canProcess(itemAt("/x/Show.WAV")));
    EXPECT_FALSE(ExtensionPreset({"WAV"}).canProcess(itemAt("/x/Show.WAV")));
    EXPECT_FALSE(ExtensionPreset({"wav"}).canProcess(itemAt("/x/Show")));
    EXPECT_FALSE(ExtensionPreset({"wav"}).canProcess(itemAt("/x/Show.wav.txt")));
}

TEST(BatchSkip, DescriptionIsTheReason) {
    batch::BatchSkip skip("Covered by another item");
    EXPECT_EQ(skip.reason, "Covered by another item");
    EXPECT_STREQ(skip.what(), "Covered by another item");
    EXPECT_STREQ(batch::BatchSkip("").what(), "");
}

} // namespace
