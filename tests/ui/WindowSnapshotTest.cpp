#include <ostream>

#include <gtest/gtest.h>

#include "ui/WindowSnapshot.h"

using ui::WindowSnapshot;

namespace {

struct ParseCase {
    std::string name;
    std::vector<std::string> args;
    bool requested;
    std::optional<std::pair<int, int>> size;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class WindowSnapshotParse : public ::testing::TestWithParam<ParseCase> {};

} // namespace

TEST_P(WindowSnapshotParse, ReadsPathAndSize) {
    const auto& c = GetParam();
    auto r = WindowSnapshot::parse(c.args);
    ASSERT_EQ(r.has_value(), c.requested);
    if (!r) return;
    EXPECT_EQ(r->path, "out.png");
    EXPECT_EQ(r->size, c.size);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowSnapshotParse,
    ::testing::Values(
        ParseCase{"NoOption", {"quorvel"}, false, std::nullopt},
        ParseCase{"SnapshotIsLast", {"quorvel", "--snapshot"}, false, std::nullopt},
        ParseCase{"NoSize", {"quorvel", "--snapshot", "out.png"}, true, std::nullopt},
        ParseCase{"UpperCaseX", {"quorvel", "--snapshot", "out.png", "--snapshot-size", "1280X800"}, true, std::pair{1280, 800}},
        ParseCase{"SizeBeforeSnapshot", {"quorvel", "--snapshot-size", "1280x800", "--snapshot", "out.png"}, true, std::pair{1280, 800}},
        ParseCase{"EmptyPiecesDropped", {"quorvel", "--snapshot", "out.png", "--snapshot-size", "x1280xx800x"}, true, std::pair{1280, 800}},
        ParseCase{"NonNumbersDropped", {"quorvel", "--snapshot", "out.png", "--snapshot-size", "1280xabcx800"}, true, std::pair{1280, 800}},
        ParseCase{"ThreeNumbers", {"quorvel", "--snapshot", "out.png", "--snapshot-size", "1280x800x2"}, true, std::nullopt},
        ParseCase{"NoNumbers", {"quorvel", "--snapshot", "out.png", "--snapshot-size", "wide"}, true, std::nullopt},
        ParseCase{"SizeIsLast", {"quorvel", "--snapshot", "out.png", "--snapshot-size"}, true, std::nullopt},
        ParseCase{"Infinite", {"quorvel", "--snapshot", "out.png", "--snapshot-size", "infx800"}, true, std::nullopt},
        ParseCase{"NotANumber", {"quorvel", "--snapshot", "out.png", "--snapshot-size", "nanxnan"}, true, std::nullopt},
        ParseCase{"Zero", {"quorvel", "--snapshot", "out.png", "--snapshot-size", "0x800"}, true, std::nullopt},
        ParseCase{"Negative", {"quorvel", "--snapshot", "out.png", "--snapshot-size", "-1280x800"}, true, std::nullopt},
        ParseCase{"Huge", {"quorvel", "--snapshot", "out.png", "--snapshot-size", "1e300x800"}, true, std::nullopt}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST(WindowSnapshot, FirstSnapshotArgumentWinsAndArgumentZeroCounts) {
    auto r = WindowSnapshot::parse({"--snapshot", "out.png", "--snapshot", "other.png"});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->path, "out.png");
}

TEST(WindowSnapshot, OptionsImageGoesBesideTheWindowImage) {
    EXPECT_EQ(WindowSnapshot::optionsPath("/tmp/window.png"), "/tmp/window-options.png");
    EXPECT_EQ(WindowSnapshot::optionsPath("/tmp/window"), "/tmp/window-options.png");
    EXPECT_EQ(WindowSnapshot::optionsPath("shots/a.b.png"), "shots/a.b-options.png");
}
