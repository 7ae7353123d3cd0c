#include <gtest/gtest.h>

#include "core/Graphemes.h"

TEST(Graphemes, CountsUserPerceivedCharacters) {
    EXPECT_EQ(core::graphemeCount(""), 0u);
    EXPECT_EQ(core::graphemeCount("hello"), 5u);
    EXPECT_EQ(core::graphemeCount("e\xCC\x81t\xC3\xA9"), 3u);              // e + combining accent, t, é
    EXPECT_EQ(core::graphemeCount("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"), 1u); // thumbs up with skin tone
}

TEST(Graphemes, UppercaseFirstCharacterOnly) {
    EXPECT_EQ(core::uppercaseFirst("so"), "So");
    EXPECT_EQ(core::uppercaseFirst("\xC3\x9F" "o"), "SSo");
    EXPECT_EQ(core::uppercaseFirst("\xC3\xA9t\xC3\xA9"), "\xC3\x89t\xC3\xA9");
    EXPECT_EQ(core::uppercaseFirst("'tis"), "'tis");
    EXPECT_EQ(core::uppercaseFirst(""), "");
}
