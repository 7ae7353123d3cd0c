#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// "file:///abs/path" with RFC 3986 percent-encoding; folders end with "/"
// when `isDirectory` is set. Relative paths are made absolute first.
std::string fileURLText(const std::filesystem::path& path, bool isDirectory = false);
// Accepts only "file://" URLs with an empty or "localhost" host.
std::optional<std::filesystem::path> pathFromFileURL(std::string_view url);

} // namespace core
