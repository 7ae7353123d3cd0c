#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "core/ChildProcess.h"
#include "core/Dates.h"
#include "core/FileURL.h"
#include "core/Files.h"
#include "core/Json.h"
#include "core/SerialExecutor.h"
#include "core/Text.h"
#include "core/Uuid.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

TEST(Uuid, TextIsUpperCaseAndRoundTrips) {
    auto u = core::Uuid::random();
    auto text = u.text();
    ASSERT_EQ(text.size(), 36u);
    for (char c : text) EXPECT_FALSE(c >= 'a' && c <= 'z');
    EXPECT_EQ(text[14], '4');
    EXPECT_EQ(core::Uuid::parse(text), u);
    EXPECT_EQ(core::Uuid::parse(core::toLower(text)), u);
    EXPECT_FALSE(core::Uuid::parse("not-a-uuid").has_value());
    EXPECT_NE(core::Uuid::random(), u);
}

TEST(Dates, ReferenceDateIsZero) {
    using namespace std::chrono;
    auto ref = core::Date(seconds(978307200));
    EXPECT_DOUBLE_EQ(core::secondsSince2001(ref), 0.0);
    auto later = core::dateFromSecondsSince2001(123.25);
    EXPECT_DOUBLE_EQ(core::secondsSince2001(later), 123.25);
    EXPECT_EQ(core::localClockText(ref).size(), 8u);
}

TEST(FileURL, PercentEncodesAndDecodes) {
    fs::path p = "/tmp/My Episode #1/ü.wav";
    auto url = core::fileURLText(p);
    EXPECT_EQ(url, "file:///tmp/My%20Episode%20%231/%C3%BC.wav");
    EXPECT_EQ(core::pathFromFileURL(url), p);
    EXPECT_EQ(core::fileURLText("/tmp/out", true), "file:///tmp/out/");
    EXPECT_FALSE(core::pathFromFileURL("http://example.com/a").has_value());
    EXPECT_FALSE(core::pathFromFileURL("file:///a%2").has_value());
    EXPECT_FALSE(core::pathFromFileURL("file:///a%00b").has_value());
}

TEST(Json, StrictReadersNameTheKey) {
    auto j = core::parseJson(R"({"a":"x","b":true,"c":1.5,"d":3,"m":{"k":"v"},"bad":{"k":1}})");
    EXPECT_EQ(core::requireString(j, "a"), "x");
    EXPECT_TRUE(core::requireBool(j, "b"));
    EXPECT_EQ(core::requireDouble(j, "d"), 3.0);
    EXPECT_EQ(core::requireInt(j, "d"), 3);
    EXPECT_THROW(core::requireInt(j, "c"), core::JsonShapeError);
    EXPECT_THROW(core::requireString(j, "b"), core::JsonShapeError);
    EXPECT_THROW(core::requireStringMap(j, "bad"), core::JsonShapeError);
    try {
        core::requireString(j, "missing");
        FAIL();
    } catch (const core::JsonShapeError& e) {
        EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
    }
    EXPECT_THROW(core::parseJson("{"), core::JsonShapeError);
    core::Json bad = std::string("a\xff");
    EXPECT_EQ(core::dumpJson(bad), "\"a\xEF\xBF\xBD\"");
    EXPECT_THROW(core::dumpJsonStrict(bad), core::JsonShapeError);
}

TEST(Text, Utf8AndTrimming) {
    EXPECT_TRUE(core::isValidUtf8("ok ü"));
    EXPECT_FALSE(core::isValidUtf8("\xc3"));
    EXPECT_EQ(core::trimWhitespace("\t a b \r\n"), "a b");
    EXPECT_EQ(core::trimCharacters("— Intro –", " -–—"), "Intro");
    EXPECT_EQ(core::toLower("ÜBER"), "über");
    EXPECT_EQ(core::split("a::b", ':', false).size(), 2u);
}

TEST(AtomicFile, NothingUnderFinalNameUntilCommit) {
    testsupport::TempDir dir;
    auto target = dir / "out.txt";
    {
        core::AtomicFile f(target);
        std::ofstream(f.tempPath()) << "partial";
        EXPECT_FALSE(fs::exists(target));
    } // abandoned
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(fs::is_empty(dir.path()));
    core::writeFileAtomically(target, "one");
    core::writeFileAtomically(target, "two");
    EXPECT_EQ(core::readFile(target), "two");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(AtomicFile, NeverReplacesAFolder) {
    testsupport::TempDir dir;
    fs::create_directory(dir / "taken");
    fs::path inside = dir / "taken" / "keep.txt";
    std::ofstream(inside) << "keep";
    EXPECT_THROW(core::writeFileAtomically(dir / "taken", "x"), core::FileError);
    EXPECT_TRUE(fs::exists(inside));
}

TEST(WorkFolder, RemovedOnScopeExit) {
    fs::path kept;
    {
        core::WorkFolder w("qv-unit");
        kept = w.path();
        std::ofstream(kept / "f") << "x";
        EXPECT_TRUE(fs::is_directory(kept));
    }
    EXPECT_FALSE(fs::exists(kept));
}

TEST(ChildProcess, CapturesOutputAndReportsSignals) {
    auto r = core::runChildProcess({"/bin/sh", "-c", "echo out; echo err >&2; exit 3"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(r.succeeded());
    EXPECT_NE(r.output.find("out"), std::string::npos);
    EXPECT_NE(r.output.find("err"), std::string::npos);
    auto k = core::runChildProcess({"/bin/sh", "-c", "kill -9 $$"});
    EXPECT_TRUE(k.signaled);
    EXPECT_FALSE(k.succeeded());
    EXPECT_THROW(core::runChildProcess({"/nonexistent/program"}), core::ChildProcessError);
}

TEST(SerialExecutor, RunsInOrderAndSurvivesThrowingTasks) {
    std::vector<int> order;
    {
        core::SerialExecutor ex;
        for (int i = 0; i < 100; ++i) {
            ex.post([&order, i] {
                if (i == 50) throw std::runtime_error("boom");
                order.push_back(i);
            });
        }
        EXPECT_EQ(ex.submit([] { return 7; }).get(), 7);
    }
    ASSERT_EQ(order.size(), 99u);
    EXPECT_EQ(order.front(), 0);
    EXPECT_EQ(order.back(), 99);
}
