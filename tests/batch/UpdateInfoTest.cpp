#include "batch/UpdateInfo.h"

#include <gtest/gtest.h>

using batch::Edition;
using batch::UpdateInfo;

TEST(Edition, TableTextsAndFeedNames) {
    EXPECT_EQ(batch::allEditions().size(), 4u);
    EXPECT_EQ(batch::editionInfo(Edition::halvane).displayName, "Halvane Pro");
    EXPECT_EQ(batch::editionInfo(Edition::zentrix).downloadName, "ZentrixExpress");
    EXPECT_EQ(batch::editionFromRaw("quorvel"), Edition::quorvel);
    EXPECT_FALSE(batch::editionFromRaw("Quorvel").has_value());
    EXPECT_EQ(UpdateInfo::feedURL(Edition::velmora), "https://tembrook.com/downloads/Ostrand.json");
    EXPECT_EQ(UpdateInfo::feedURL(Edition::quorvel), "https://tembrook.com/downloads/Quorvel.json");
}

TEST(UpdateInfo, DecodesTheFeedStrictly) {
    auto info = UpdateInfo::decode(R"({"version":"2.1.0","build":210,"url":"https://tembrook.com/q.zip"})");
    EXPECT_EQ(info.version, "2.1.0");
    EXPECT_EQ(info.build, 210);
    EXPECT_FALSE(info.notes.has_value());
    EXPECT_EQ(UpdateInfo::decode(R"({"version":"1","build":1,"url":"u","notes":null})").notes, std::nullopt);
    EXPECT_EQ(UpdateInfo::decode(R"({"version":"1","build":1,"url":"u","notes":""})").notes, "");
    for (const char* bad : {R"({"build":1,"url":"u"})", R"({"version":"1","build":"1","url":"u"})",
                            R"({"version":"1","build":1.5,"url":"u"})", R"({"version":"1","build":1})",
                            R"({"version":1,"build":1,"url":"u"})", R"({"version":"1","build":1,"url":"u","notes":3})",
                            "not json", "[]"})
        EXPECT_THROW(UpdateInfo::decode(bad), core::JsonShapeError) << bad;
}

TEST(UpdateInfo, VersionRule) {
    UpdateInfo r{"1.10", 1, "https://tembrook.com/a", std::nullopt};
    EXPECT_TRUE(r.isNewer("1.9", 999));
    UpdateInfo b40{"1.2", 40, "", std::nullopt};
    EXPECT_TRUE(b40.isNewer("1.2", 39));
    UpdateInfo b39{"1.2", 39, "", std::nullopt};
    EXPECT_FALSE(b39.isNewer("1.2", 39));
    EXPECT_FALSE(b39.isNewer("1.3", 0));
    EXPECT_TRUE(b39.isNewer("0", 0));
    // Digit runs longer than any integer type still compare as numbers.
    UpdateInfo huge{"1.123456789012345678901234567890", 1, "", std::nullopt};
    EXPECT_TRUE(huge.isNewer("1.123456789012345678901234567889", 5));
    EXPECT_FALSE(huge.isNewer("1.99999999999999999999999999999999", 0));
    EXPECT_EQ(batch::compareVersionsNumerically("1.01", "1.1"), 0);
}

TEST(UpdateInfo, TrustedDownloadOnlyOnTheServer) {
    auto trusted = [](const std::string& url) { return UpdateInfo{"1", 1, url, std::nullopt}.isTrustedDownload(); };
    EXPECT_TRUE(trusted("https://tembrook.com/downloads/Quorvel.zip"));
    EXPECT_TRUE(trusted("https://www.tembrook.com/x"));
    EXPECT_TRUE(trusted("https://tembrook.com"));
    EXPECT_FALSE(trusted("http://tembrook.com/x"));
    EXPECT_FALSE(trusted("https://cdn.tembrook.com/x"));
    EXPECT_FALSE(trusted("https://tembrook.com.evil.example/x"));
    EXPECT_FALSE(trusted("https://evil.example/tembrook.com"));
    EXPECT_FALSE(trusted("https://tembrook.com@evil.example/x"));
    EXPECT_FALSE(trusted("tembrook.com/x"));
    EXPECT_FALSE(trusted(""));
}
