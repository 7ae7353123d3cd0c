#include "batch/PresetStore.h"

#include <chrono>
#include <csignal>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "core/Files.h"
#include "core/Json.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using batch::ExportablePresetBundle;
using batch::PresetStore;
using namespace std::chrono;

// 2026-12-09 14:05:07.123456 UTC, a moment with whole microseconds.
core::Date exactMoment() {
    return core::Date(sys_days{year{2026} / December / 9} + hours{14} + minutes{5} + seconds{7} + microseconds{123456});
}

ExportablePresetBundle sampleBundle() {
    return ExportablePresetBundle{"1.0",
                                  "podcast.episode",
                                  "Weekly Show – Mastered",
                                  "Podcast",
                                  "{name}_{index:02}",
                                  {{"namingPattern", "{name}-{date}"}, {"targetLUFS", "-16.0"}, {"ümlaut", "ja"}},
                                  exactMoment()};
}

std::vector<fs::path> folderEntries(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename());
    return out;
}

class PresetStoreTest : public testing::Test {
protected:
    testsupport::TempDir dir;
    PresetStore store;
};

TEST_F(PresetStoreTest, RoundTripKeepsEveryFieldAndTheExactDate) {
    const auto bundle = sampleBundle();
    store.exportBundle(bundle, dir / "show.qvpreset");
    const auto back = store.importPreset(dir / "show.qvpreset");
    EXPECT_EQ(back.version, bundle.version);
    EXPECT_EQ(back.presetID, bundle.presetID);
    EXPECT_EQ(back.presetName, bundle.presetName);
    EXPECT_EQ(back.verticalName, bundle.verticalName);
    EXPECT_EQ(back.defaultNamingPattern, bundle.defaultNamingPattern);
    EXPECT_EQ(back.configuration, bundle.configuration);
    EXPECT_EQ(back.exportedAt, bundle.exportedAt);
}

TEST_F(PresetStoreTest, FileIsPrettyJsonWithSevenKeysInFieldOrder) {
    testsupport::CommaDecimalLocale commaDecimal; // the date must still be written with "."
    auto bundle = sampleBundle();
    bundle.exportedAt = core::Date(sys_days{year{2001} / January / 2} + milliseconds{500});
    store.exportBundle(bundle, dir / "b.json");
    const std::string text = core::readFile(dir / "b.json");
    EXPECT_EQ(text.rfind("{\n  \"version\": \"1.0\",\n  \"presetID\": ", 0), 0u) << text;
    const auto json = core::parseJson(text);
    EXPECT_EQ(json.size(), 7u);
    EXPECT_DOUBLE_EQ(json.at("exportedAt").get<double>(), 86400.5);
    EXPECT_NE(text.find("\"exportedAt\": 86400.5\n"), std::string::npos) << text;
    EXPECT_TRUE(json.at("configuration").is_object());
    EXPECT_LT(text.find("\"presetID\""), text.find("\"presetName\""));
    EXPECT_LT(text.find("\"configuration\""), text.find("\"exportedAt\""));
}

const char* kValidDocument = R"({
  "version": "2.7-beta",
  "presetID": "p",
  "presetName": "Name",
  "verticalName": "Podcast",
  "defaultNamingPattern": "{name}",
  "configuration": {"a": "1"},
  "exportedAt": 0,
  "somethingNew": [1, 2, 3]
})";

TEST_F(PresetStoreTest, ReadsOtherVersionsAndIgnoresExtraKeys) {
    core::writeFileAtomically(dir / "in.json", kValidDocument);
    const auto bundle = store.importPreset(dir / "in.json");
    EXPECT_EQ(bundle.version, "2.7-beta");
    EXPECT_EQ(bundle.configuration, (std::map<std::string, std::string>{{"a", "1"}}));
    EXPECT_EQ(bundle.exportedAt, core::Date(sys_days{year{2001} / January / 1}));
}

class PresetStoreBrokenDocument : public testing::TestWithParam<std::string> {};

// Each case damages one key of the valid document.
TEST_P(PresetStoreBrokenDocument, FailsWithShapeError) {
    testsupport::TempDir dir;
    auto json = core::parseJson(kValidDocument);
    const std::string& damage = GetParam();
    if (damage.rfind("drop:", 0) == 0)
        json.erase(damage.substr(5));
    else if (damage == "dateAsText")
        json["exportedAt"] = "2026-12-09T14:05:07Z";
    else if (damage == "numberForText")
        json["presetName"] = 3;
    else if (damage == "configurationNumber")
        json["configuration"]["a"] = 1;
    else if (damage == "configurationArray")
        json["configuration"] = core::Json::array({"a"});
    else if (damage == "hugeDate")
        json["exportedAt"] = 1e300;
    core::writeFileAtomically(dir / "in.json", json.dump());
    EXPECT_THROW(PresetStore::shared().importPreset(dir / "in.json"), core::JsonShapeError);
}

INSTANTIATE_TEST_SUITE_P(Damage, PresetStoreBrokenDocument,
                         testing::Values("drop:version", "drop:presetID", "drop:presetName", "drop:verticalName",
                                         "drop:defaultNamingPattern", "drop:configuration", "drop:exportedAt",
                                         "dateAsText", "numberForText", "configurationNumber",
                                         "configurationArray", "hugeDate"));

TEST_F(PresetStoreTest, MissingKeyNamesTheKey) {
    auto json = core::parseJson(kValidDocument);
    json.erase("exportedAt");
    core::writeFileAtomically(dir / "in.json", json.dump());
    try {
        store.importPreset(dir / "in.json");
        FAIL() << "no error";
    } catch (const core::JsonShapeError& e) {
        EXPECT_STREQ(e.what(), "Missing key \"exportedAt\".");
    }
}

TEST_F(PresetStoreTest, UnreadableOrNonJsonFilesFail) {
    EXPECT_THROW(store.importPreset(dir / "none.json"), core::FileError);
    core::writeFileAtomically(dir / "text.json", "not json at all");
    EXPECT_THROW(store.importPreset(dir / "text.json"), core::JsonShapeError);
}

TEST_F(PresetStoreTest, ExportReplacesAnExistingFile) {
    core::writeFileAtomically(dir / "b.json", std::string(5000, 'x'));
    store.exportBundle(sampleBundle(), dir / "b.json");
    EXPECT_EQ(store.importPreset(dir / "b.json").presetID, "podcast.episode");
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<fs::path>{"b.json"}));
}

TEST_F(PresetStoreTest, ExportIntoMissingFolderFailsAndCreatesNothing) {
    EXPECT_THROW(store.exportBundle(sampleBundle(), dir / "missing" / "b.json"), core::FileError);
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

TEST_F(PresetStoreTest, FailedWriteKeepsTheEarlierBundle) {
    store.exportBundle(sampleBundle(), dir / "b.json");
    const std::string before = core::readFile(dir / "b.json");

    auto big = sampleBundle();
    big.configuration["padding"] = std::string(1 << 20, 'p');
    // Limit the size of files this process may write, so that the write of the
    // large bundle fails part-way (even for root).
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    EXPECT_THROW(store.exportBundle(big, dir / "b.json"), core::FileError);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(core::readFile(dir / "b.json"), before);
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<fs::path>{"b.json"}));
}

TEST_F(PresetStoreTest, InvalidUtf8FailsClearlyAndWritesNothing) {
    store.exportBundle(sampleBundle(), dir / "b.json");
    const std::string before = core::readFile(dir / "b.json");
    auto bad = sampleBundle();
    bad.configuration["title"] = "caf\xe9";
    try {
        store.exportBundle(bad, dir / "b.json");
        FAIL() << "no error";
    } catch (const core::JsonShapeError& e) {
        EXPECT_STREQ(e.what(),
                     "The preset bundle cannot be saved: the text of \"configuration.title\" is not valid UTF-8.");
    }
    auto badName = sampleBundle();
    badName.presetName = "\xff";
    EXPECT_THROW(store.exportBundle(badName, dir / "b.json"), core::JsonShapeError);
    EXPECT_EQ(core::readFile(dir / "b.json"), before);
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<fs::path>{"b.json"}));
}

TEST(PresetStoreShared, IsOneInstance) { EXPECT_EQ(&PresetStore::shared(), &PresetStore::shared()); }

} // namespace
