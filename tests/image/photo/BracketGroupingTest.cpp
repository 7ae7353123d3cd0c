#include <cmath>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "BracketFixtures.h"
#include "support/TestSupport.h"
#include "core/Files.h"
#include "image/photo/BracketMerger.h"

namespace {

namespace fs = std::filesystem;
using bracketfixtures::Capture;
using bracketfixtures::dateAt;
using bracketfixtures::timeForStops;
using image::BracketMerger;
using Groups = std::vector<std::vector<fs::path>>;

const std::set<std::string> kPhotos{"jpg", "jpeg", "heic"};

Capture at(int second, double stops) {
    Capture c;
    c.date = dateAt(second);
    c.exposureTime = timeForStops(stops);
    return c;
}

// Writes name -> capture in order and returns the paths.
std::vector<fs::path> writeAll(const testsupport::TempDir& dir, const std::vector<std::pair<std::string, Capture>>& photos) {
    std::vector<fs::path> paths;
    for (const auto& [name, capture] : photos) {
        paths.push_back(dir / name);
        bracketfixtures::writeJpeg(paths.back(), capture);
    }
    return paths;
}

Groups groupFiles(const std::vector<fs::path>& paths) {
    std::vector<BracketMerger::Shot> shots;
    for (const auto& p : paths)
        if (auto s = BracketMerger::shot(p)) shots.push_back(*s);
    return BracketMerger::group(shots);
}

TEST(BracketShot, ReadsCaptureFactsFromExif) {
    testsupport::TempDir dir;
    Capture c;
    c.date = "2024:05:06 07:08:09";
    c.subSeconds = "25";
    c.exposureTime = 0.01;
    c.fNumber = 4.0;
    c.iso = 400;
    c.orientation = 6; // turned: the size stays as stored
    bracketfixtures::writeJpeg(dir / "a.jpg", c, 80, 50);

    const auto shot = BracketMerger::shot(dir / "a.jpg");
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->width, 80);
    EXPECT_EQ(shot->height, 50);
    EXPECT_DOUBLE_EQ(shot->exposureTime, 0.01);
    ASSERT_TRUE(shot->exposureValue);
    EXPECT_NEAR(*shot->exposureValue, std::log2(16.0 / 0.01) - 2.0, 1e-9);

    std::tm local{};
    local.tm_year = 124;
    local.tm_mon = 4;
    local.tm_mday = 6;
    local.tm_hour = 7;
    local.tm_min = 8;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    const auto whole = core::Clock::from_time_t(std::mktime(&local));
    ASSERT_TRUE(shot->time);
    EXPECT_NEAR(std::chrono::duration<double>(*shot->time - whole).count(), 0.25, 1e-6);
}

TEST(BracketShot, DefaultsApertureAndSpeedAndKeepsMissingFactsAbsent) {
    testsupport::TempDir dir;
    Capture plain = at(0, 0); // no FNumber, no ISO: f/8, ISO 100
    Capture noTime = at(0, 0);
    noTime.exposureTime.reset();
    Capture badDate = at(0, 0);
    badDate.date = "2024-05-06 10:00:00";
    bracketfixtures::writeJpeg(dir / "plain.jpg", plain);
    bracketfixtures::writeJpeg(dir / "notime.jpg", noTime);
    bracketfixtures::writeJpeg(dir / "baddate.jpg", badDate);

    const auto p = BracketMerger::shot(dir / "plain.jpg");
    ASSERT_TRUE(p && p->exposureValue);
    EXPECT_NEAR(*p->exposureValue, std::log2(64.0 / 0.01), 1e-9);
    const auto n = BracketMerger::shot(dir / "notime.jpg");
    ASSERT_TRUE(n);
    EXPECT_FALSE(n->exposureValue);
    EXPECT_EQ(n->exposureTime, 0.0);
    const auto d = BracketMerger::shot(dir / "baddate.jpg");
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->time);
    EXPECT_FALSE(BracketMerger::shot(dir / "missing.jpg"));
}

struct GroupCase {
    std::string name;
    std::vector<std::pair<int, double>> frames; // (second, stops)
    std::vector<std::vector<int>> expected;     // frame indices per bracket
};

class BracketGrouping : public ::testing::TestWithParam<GroupCase> {};

TEST_P(BracketGrouping, FormsTheExpectedBrackets) {
    testsupport::TempDir dir;
    std::vector<std::pair<std::string, Capture>> photos;
    for (std::size_t i = 0; i < GetParam().frames.size(); ++i)
        photos.emplace_back(fmt::format("IMG_{}.jpg", i + 1), at(GetParam().frames[i].first, GetParam().frames[i].second));
    const auto paths = writeAll(dir, photos);
    Groups expected;
    for (const auto& g : GetParam().expected) {
        expected.emplace_back();
        for (int i : g) expected.back().push_back(paths[std::size_t(i)]);
    }
    EXPECT_EQ(groupFiles(paths), expected);
}

GroupCase twelve() {
    GroupCase c{"TwelveStopsGiveNineAndThree", {}, {{0, 1, 2, 3, 4, 5, 6, 7, 8}, {9, 10, 11}}};
    for (int i = 0; i < 12; ++i) c.frames.emplace_back(i, static_cast<double>(i) - 5);
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BracketGrouping,
    ::testing::Values(GroupCase{"FiveStepsOneSecondApart", {{0, -2}, {1, -1}, {2, 0}, {3, 1}, {4, 2}}, {{0, 1, 2, 3, 4}}},
                      GroupCase{"RepeatStartsNewBracket", {{0, 0}, {1, 1}, {2, 0}, {3, 1}}, {{0, 1}, {2, 3}}},
                      GroupCase{"HalfStopIsNoBracket", {{0, 0}, {1, 0.5}}, {}},
                      GroupCase{"OneStopIsABracket", {{0, 0}, {1, 1}}, {{0, 1}}},
                      GroupCase{"SortedByCaptureTime", {{2, 1}, {0, -1}, {1, 0}}, {{1, 2, 0}}}, twelve()),
    [](const auto& info) { return info.param.name; });

struct GapCase {
    std::string name;
    double firstExposure;
    bool together;
};
class BracketGap : public ::testing::TestWithParam<GapCase> {};

TEST_P(BracketGap, AllowsTheFramesOwnExposurePlusThreeSeconds) {
    testsupport::TempDir dir;
    Capture first = at(0, 0);
    first.exposureTime = GetParam().firstExposure;
    Capture second = at(4, 0);
    second.exposureTime = GetParam().firstExposure * 2; // one stop apart
    const auto paths = writeAll(dir, {{"a.jpg", first}, {"b.jpg", second}});
    EXPECT_EQ(groupFiles(paths).size(), GetParam().together ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, BracketGap,
                         ::testing::Values(GapCase{"AfterHundredthSecond", 0.01, false}, GapCase{"AfterTwoSeconds", 2.0, true}),
                         [](const auto& info) { return info.param.name; });

TEST(BracketGrouping, DifferentSizeEndsARun) {
    testsupport::TempDir dir;
    bracketfixtures::writeJpeg(dir / "a.jpg", at(0, 0), 64, 48);
    bracketfixtures::writeJpeg(dir / "b.jpg", at(1, 1), 48, 64);
    EXPECT_TRUE(groupFiles({dir / "a.jpg", dir / "b.jpg"}).empty());
}

TEST(BracketLookup, PhotoWithoutDateOrExposureTimeIsAlone) {
    testsupport::TempDir dir;
    Capture noDate = at(1, 1);
    noDate.date.reset();
    Capture noTime = at(2, 2);
    noTime.exposureTime.reset();
    const auto paths = writeAll(dir, {{"1.jpg", at(0, 0)}, {"2.jpg", noDate}, {"3.jpg", noTime}, {"4.jpg", at(3, 1)}});
    EXPECT_EQ(BracketMerger::brackets(paths[1], kPhotos), std::vector<fs::path>{paths[1]});
    EXPECT_EQ(BracketMerger::brackets(paths[2], kPhotos), std::vector<fs::path>{paths[2]});
    EXPECT_EQ(BracketMerger::brackets(paths[0], kPhotos), (std::vector<fs::path>{paths[0], paths[3]}));
}

TEST(BracketLookup, SkipsHiddenFilesAndOtherExtensions) {
    testsupport::TempDir dir;
    // Same capture time: ties go by plain file-name order. Hidden and
    // foreign files never take part.
    const auto paths = writeAll(dir, {{"IMG_10.JPG", at(0, 1)}, {"IMG_9.jpg", at(0, 0)}, {".hidden.jpg", at(0, 2)},
                                      {"other.png", at(0, 3)}});
    const auto found = BracketMerger::brackets(paths[1], kPhotos);
    EXPECT_EQ(found, (std::vector<fs::path>{paths[0], paths[1]}));
    EXPECT_EQ(BracketMerger::brackets(paths[2], kPhotos), std::vector<fs::path>{paths[2]});
}

TEST(BracketLookup, PathWithDotComponentIsFound) {
    testsupport::TempDir dir;
    fs::create_directory(dir / "shoot");
    bracketfixtures::writeJpeg(dir / "shoot" / "a.jpg", at(0, 0));
    bracketfixtures::writeJpeg(dir / "shoot" / "b.jpg", at(1, 1));
    const fs::path dotted = dir.path() / "shoot" / "." / "b.jpg";
    const auto found = BracketMerger::brackets(dotted, kPhotos);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].filename(), "b.jpg");
    const fs::path viaParent = dir.path() / "shoot" / ".." / "shoot" / "a.jpg";
    EXPECT_EQ(BracketMerger::brackets(viaParent, kPhotos).size(), 2u);
}

// The cache answers while the folder's listing is unchanged: a photo whose
// content changes behind an unchanged name and date is still grouped as
// before; renaming or touching an accepted file makes the folder regrouped.
class BracketCache : public ::testing::TestWithParam<std::string> {};

TEST_P(BracketCache, RegroupsOnlyWhenTheListingChanges) {
    testsupport::TempDir dir;
    const auto paths = writeAll(dir, {{"a.jpg", at(0, 0)}, {"b.jpg", at(1, 1)}});
    ASSERT_EQ(BracketMerger::brackets(paths[0], kPhotos).size(), 2u);

    // b becomes a repeat of a's exposure, its date put back.
    const auto stamp = fs::last_write_time(paths[1]);
    bracketfixtures::setExif(paths[1], at(1, 0));
    fs::last_write_time(paths[1], stamp);
    EXPECT_EQ(BracketMerger::brackets(paths[0], kPhotos).size(), 2u) << "served from the cache";

    const std::string change = GetParam();
    if (change == "touch") {
        bracketfixtures::shiftModificationTime(paths[1], std::chrono::seconds(5));
    } else if (change == "rename") {
        fs::rename(paths[1], dir / "c.jpg");
    } else if (change == "foreign") {
        core::writeFileAtomically(dir / "notes.txt", "not a photo");
    }
    const bool regrouped = change != "foreign";
    EXPECT_EQ(BracketMerger::brackets(paths[0], kPhotos).size(), regrouped ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(Changes, BracketCache, ::testing::Values("touch", "rename", "foreign"));

TEST(BracketLookup, HeicBracketGroups) {
    if (!bracketfixtures::canWriteHeic()) GTEST_SKIP() << "libheif has no HEVC encoder here";
    testsupport::TempDir dir;
    for (int i = 0; i < 3; ++i) bracketfixtures::writeHeic(dir / fmt::format("h{}.heic", i), at(i, i - 1), 64, 48);
    const auto shot = BracketMerger::shot(dir / "h1.heic");
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->width, 64);
    EXPECT_EQ(shot->height, 48);
    ASSERT_TRUE(shot->time && shot->exposureValue);
    const auto found = BracketMerger::brackets(dir / "h1.heic", kPhotos);
    EXPECT_EQ(found, (std::vector<fs::path>{dir / "h0.heic", dir / "h1.heic", dir / "h2.heic"}));
}

TEST(BracketLookup, EightThreadsAskingAtOnceAgree) {
    testsupport::TempDir dir;
    std::vector<std::pair<std::string, Capture>> photos;
    for (int i = 0; i < 15; ++i) photos.emplace_back(fmt::format("P{}.jpg", i + 1), at(i, (i % 5) - 2));
    const auto paths = writeAll(dir, photos);

    std::vector<std::vector<std::vector<fs::path>>> answers(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < paths.size(); ++k)
                answers[std::size_t(t)].push_back(BracketMerger::brackets(paths[(k + std::size_t(t)) % paths.size()], kPhotos));
        });
    for (auto& th : threads) th.join();

    for (int t = 0; t < 8; ++t)
        for (std::size_t k = 0; k < paths.size(); ++k) {
            const std::size_t photo = (k + std::size_t(t)) % paths.size();
            const std::size_t start = photo / 5 * 5;
            const std::vector<fs::path> expected(paths.begin() + long(start), paths.begin() + long(start + 5));
            EXPECT_EQ(answers[std::size_t(t)][k], expected) << "thread " << t << " photo " << photo;
        }
}

} // namespace
