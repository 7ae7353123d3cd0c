#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace core {

// UTF-8 text helpers (ICU underneath).
bool isValidUtf8(std::string_view text);
// Invalid byte sequences become U+FFFD.
std::string sanitizeUtf8(std::string_view text);
// Unicode lower case (root locale).
std::string toLower(std::string_view text);
// Removes Unicode white space (and line breaks) at both ends.
std::string trimWhitespace(std::string_view text);
// Removes the given characters (each a code point of `chars`) at both ends.
std::string trimCharacters(std::string_view text, std::string_view chars);
std::vector<std::string> split(std::string_view text, char separator, bool keepEmpty = true);
std::string join(const std::vector<std::string>& parts, std::string_view separator);
bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);
std::string replaceAll(std::string text, std::string_view from, std::string_view to);

} // namespace core
