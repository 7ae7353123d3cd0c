#include "batch/FileIngest.h"

#include <fstream>
#include <unistd.h>

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using batch::FileIngest;

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

std::vector<std::string> names(const std::vector<fs::path>& paths) {
    std::vector<std::string> out;
    for (const auto& p : paths) out.push_back(p.filename().string());
    return out;
}

// Sets ICU's default locale for one test, as the environment of a build
// machine (LANG=C, which ICU reports as en_US_POSIX) or a desktop would.
class DefaultLocale {
public:
    explicit DefaultLocale(const char* name) : previous_(icu::Locale::getDefault()) { set(icu::Locale(name)); }
    ~DefaultLocale() { set(previous_); }

private:
    static void set(const icu::Locale& locale) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(locale, status);
    }
    icu::Locale previous_;
};

class FileIngestTest : public testing::Test {
protected:
    testsupport::TempDir dir;
    const std::set<std::string> wav{"wav"};
};

TEST_F(FileIngestTest, NaturalOrderUnderPosixLocale) {
    DefaultLocale posix("en_US_POSIX");
    for (auto n : {"Ep10.wav", "ep2.WAV", "notes.txt", "ep1.wav", "Ep3.wav"}) touch(dir / n);
    EXPECT_EQ(names(FileIngest::expand({dir.path()}, wav)),
              (std::vector<std::string>{"ep1.wav", "ep2.WAV", "Ep3.wav", "Ep10.wav"}));
}

TEST_F(FileIngestTest, NaturalOrderUnderGermanLocale) {
    DefaultLocale german("de_DE");
    for (auto n : {"Ep10.wav", "ep2.WAV", "Äpfel.wav", "Zebra.wav"}) touch(dir / n);
    EXPECT_EQ(names(FileIngest::expand({dir.path()}, wav)),
              (std::vector<std::string>{"Äpfel.wav", "ep2.WAV", "Ep10.wav", "Zebra.wav"}));
}

TEST_F(FileIngestTest, SortsWholePathsAcrossFolders) {
    touch(dir / "Show 10" / "a.wav");
    touch(dir / "Show 9" / "b.wav");
    const auto found = FileIngest::expand({dir.path()}, wav);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], dir / "Show 9" / "b.wav");
    EXPECT_EQ(found[1], dir / "Show 10" / "a.wav");
}

TEST_F(FileIngestTest, ListsEachFileOnceWhateverTheSpelling) {
    touch(dir / "sub" / "one.wav");
    const fs::path relative = fs::relative(dir / "sub" / "one.wav", fs::current_path());
    const auto found = FileIngest::expand({dir / "sub" / "one.wav", dir.path(), dir / "sub" / "." / "one.wav",
                                           dir / "sub" / ".." / "sub" / "one.wav", dir / "sub/", relative},
                                          wav);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], dir / "sub" / "one.wav");
    EXPECT_TRUE(found[0].is_absolute());
}

TEST_F(FileIngestTest, PassesOverHiddenFilesAndFolders) {
    touch(dir / "visible.wav");
    touch(dir / ".hidden.wav");
    touch(dir / ".cache" / "inside.wav");
    touch(dir / "deep" / ".secret" / "deeper.wav");
    EXPECT_EQ(names(FileIngest::expand({dir.path(), dir / ".hidden.wav"}, wav)),
              (std::vector<std::string>{"visible.wav"}));
}

TEST_F(FileIngestTest, FollowsOnlyADroppedLinkToAFolder) {
    testsupport::TempDir elsewhere;
    touch(elsewhere / "target.wav");
    touch(elsewhere / "folder" / "linked.wav");
    touch(elsewhere / "other" / "beyond.wav");
    touch(dir / "real.wav");
    fs::create_symlink(elsewhere / "target.wav", dir / "link.wav");
    fs::create_directory_symlink(elsewhere / "folder", dir / "linkedFolder");
    // Links met inside folders stay unfollowed: a loop would never end.
    fs::create_directory_symlink(dir.path(), dir / "loop");
    fs::create_directory_symlink(elsewhere / "other", elsewhere / "folder" / "toOther");
    EXPECT_EQ(names(FileIngest::expand({dir.path(), dir / "link.wav"}, wav)), (std::vector<std::string>{"real.wav"}));
    // A dropped link to a folder is searched as that folder, and names the
    // folder's files once when the folder itself is dropped too.
    const auto viaLink = FileIngest::expand({dir / "linkedFolder", fs::canonical(elsewhere / "folder")}, wav);
    ASSERT_EQ(viaLink.size(), 1u);
    EXPECT_EQ(viaLink[0], fs::canonical(elsewhere / "folder" / "linked.wav"));
}

TEST_F(FileIngestTest, DoesNotLookInsidePackages) {
    touch(dir / "Tool.app" / "Contents" / "Resources" / "chime.wav");
    touch(dir / "Library.photoslibrary" / "clip.wav");
    touch(dir / "Effect.PLUGIN" / "tone.wav");
    touch(dir / "plain.folder" / "kept.wav");
    EXPECT_EQ(names(FileIngest::expand({dir.path(), dir / "Tool.app"}, wav)),
              (std::vector<std::string>{"kept.wav"}));
}

TEST_F(FileIngestTest, PassesOverUnreadableFolders) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
    touch(dir / "open" / "a.wav");
    touch(dir / "closed" / "b.wav");
    fs::permissions(dir / "closed", fs::perms::none);
    const auto found = FileIngest::expand({dir.path()}, wav);
    fs::permissions(dir / "closed", fs::perms::owner_all);
    EXPECT_EQ(names(found), (std::vector<std::string>{"a.wav"}));
}

TEST_F(FileIngestTest, IgnoresMissingPathsAndFolders) {
    touch(dir / "here.wav");
    fs::create_directories(dir / "folder.wav");
    EXPECT_EQ(names(FileIngest::expand({dir / "gone.wav", dir / "here.wav", dir / "folder.wav", fs::path()}, wav)),
              (std::vector<std::string>{"here.wav"}));
    EXPECT_TRUE(FileIngest::expand({}, wav).empty());
    EXPECT_TRUE(FileIngest::expand({dir / "gone"}, wav).empty());
}

TEST_F(FileIngestTest, MatchesExtensionsCaseInsensitively) {
    for (auto n : {"A.WAV", "b.Wav", "c.m4a", "README", "d.wav.txt", "e.txt.wav"}) touch(dir / n);
    EXPECT_EQ(names(FileIngest::expand({dir.path()}, wav)), (std::vector<std::string>{"A.WAV", "b.Wav", "e.txt.wav"}));
    EXPECT_EQ(names(FileIngest::expand({dir.path()}, {"", "m4a"})), (std::vector<std::string>{"c.m4a", "README"}));
    EXPECT_TRUE(FileIngest::expand({dir.path()}, {}).empty());
}

TEST(FileIngestPackages, RecognisesBundleSuffixes) {
    EXPECT_TRUE(FileIngest::isPackageName("Tool.app"));
    EXPECT_TRUE(FileIngest::isPackageName("x.Framework"));
    EXPECT_TRUE(FileIngest::isPackageName("Photos Library.photoslibrary"));
    EXPECT_FALSE(FileIngest::isPackageName("episodes"));
    EXPECT_FALSE(FileIngest::isPackageName("happ"));
    EXPECT_FALSE(FileIngest::isPackageName("my.application"));
}

} // namespace
