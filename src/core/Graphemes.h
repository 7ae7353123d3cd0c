#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace core {

// Number of user-perceived characters (extended grapheme clusters) of UTF-8
// text. Invalid bytes count one each.
std::size_t graphemeCount(std::string_view text);

// The text with its first character (grapheme cluster) in upper case, the rest
// unchanged ("so" gives "So", "ßo" gives "SSo").
std::string uppercaseFirst(std::string_view text);

} // namespace core
