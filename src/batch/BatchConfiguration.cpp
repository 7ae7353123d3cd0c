#include "batch/BatchConfiguration.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include "core/FileURL.h"
#include "core/Files.h"
#include "core/Numbers.h"
#include "core/Uuid.h"

namespace batch {

namespace fs = std::filesystem;

namespace {

// Folder paths are kept without a trailing separator.
fs::path withoutTrailingSeparator(fs::path path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return fs::path(text);
}

std::optional<fs::path> environmentPath(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return fs::path(value);
}

// The user's home: $HOME, else the account's entry in the user database.
std::optional<fs::path> homeFolder() {
    if (auto home = environmentPath("HOME"); home && home->is_absolute()) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr || found->pw_dir[0] != '/')
        return std::nullopt;
    return fs::path(found->pw_dir);
}

// A download-folder setting: "$HOME/yyy" (or "$HOME" alone) relative to the
// home folder, or an absolute path; anything else is no setting.
std::optional<fs::path> settingPath(std::string_view value, const fs::path& home) {
    constexpr std::string_view kHome = "$HOME";
    if (value.substr(0, kHome.size()) == kHome && (value.size() == kHome.size() || value[kHome.size()] == '/')) {
        value.remove_prefix(kHome.size());
        while (!value.empty() && value.front() == '/') value.remove_prefix(1);
        return value.empty() ? home : home / value;
    }
    if (!value.empty() && value.front() == '/') return fs::path(value);
    return std::nullopt;
}

// The value of XDG_DOWNLOAD_DIR in user-dirs.dirs, whose lines read
// XDG_DOWNLOAD_DIR="$HOME/Downloads" (or an absolute path); the last wins.
std::optional<fs::path> downloadDirFromUserDirs(const fs::path& home) {
    fs::path config = home / ".config";
    if (auto set = environmentPath("XDG_CONFIG_HOME"); set && set->is_absolute()) config = *set;
    std::ifstream in(config / "user-dirs.dirs");
    if (!in) return std::nullopt;
    std::optional<fs::path> found;
    std::string line;
    const std::string key = "XDG_DOWNLOAD_DIR=";
    while (std::getline(in, line)) {
        auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
        std::string value = line.substr(start + key.size());
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
        if (auto path = settingPath(std::string_view(value).substr(1, value.size() - 2), home)) found = path;
    }
    return found;
}

// The user's Downloads folder, whether or not it exists yet (a run's start
// creates it): the XDG setting (user-dirs.dirs, as xdg-user-dirs keeps it,
// else $XDG_DOWNLOAD_DIR), else ~/Downloads. A setting naming the home
// folder itself means "not configured". None without a home.
std::optional<fs::path> downloadsFolder() {
    const auto home = homeFolder();
    if (!home) return std::nullopt;
    std::optional<fs::path> configured = downloadDirFromUserDirs(*home);
    if (!configured) {
        if (const char* value = std::getenv("XDG_DOWNLOAD_DIR"); value != nullptr)
            configured = settingPath(value, *home);
    }
    if (configured) {
        fs::path folder = withoutTrailingSeparator(configured->lexically_normal());
        if (folder != withoutTrailingSeparator(home->lexically_normal())) return folder;
    }
    return *home / "Downloads";
}

fs::path temporaryFolder() {
    std::error_code ec;
    fs::path tmp = fs::temp_directory_path(ec);
    if (ec || tmp.empty()) tmp = "/tmp";
    return tmp;
}

int clampConcurrency(int requested) {
    const int n = core::activeProcessorCount();
    const int upper = n > INT32_MAX / 2 ? INT32_MAX : 2 * n;
    return std::max(1, std::min(requested, upper));
}

} // namespace

BatchConfiguration::BatchConfiguration(fs::path outputDirectory, bool createSubfolders, std::string namingPattern,
                                       bool overwriteExisting, int maxConcurrentTasks,
                                       bool deleteSourceAfterSuccess, bool notifyOnCompletion,
                                       std::map<std::string, std::string> customSettings)
    : outputDirectory(std::move(outputDirectory)), createSubfolders(createSubfolders),
      namingPattern(std::move(namingPattern)), overwriteExisting(overwriteExisting),
      maxConcurrentTasks(clampConcurrency(maxConcurrentTasks)),
      deleteSourceAfterSuccess(deleteSourceAfterSuccess), notifyOnCompletion(notifyOnCompletion),
      customSettings(std::move(customSettings)) {}

BatchConfiguration BatchConfiguration::defaultConfiguration() {
    fs::path base = downloadsFolder().value_or(temporaryFolder());
    return BatchConfiguration(base / "BatchOutput", true, "{name}_{index:02}", false,
                              core::activeProcessorCount(), false, true, {});
}

void BatchConfiguration::prepareOutputDirectory(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) throw core::FileError::cannotCreateFolder(folder, ec.message());
    const fs::path probe = folder / (".qv-write-check-" + core::Uuid::random().text());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw core::FileError::cannotWriteInFolder(folder, core::systemErrorText(errno));
    ::close(fd);
    if (::unlink(probe.c_str()) != 0) throw core::FileError::cannotWriteInFolder(folder, core::systemErrorText(errno));
}

core::Json BatchConfiguration::toJson() const {
    core::Json json = core::Json::object();
    json["outputDirectory"] = core::fileURLText(outputDirectory, true);
    json["createSubfolders"] = createSubfolders;
    json["namingPattern"] = namingPattern;
    json["overwriteExisting"] = overwriteExisting;
    json["maxConcurrentTasks"] = maxConcurrentTasks;
    json["deleteSourceAfterSuccess"] = deleteSourceAfterSuccess;
    json["notifyOnCompletion"] = notifyOnCompletion;
    core::Json custom = core::Json::object();
    for (const auto& [key, value] : customSettings) custom[key] = value;
    json["customSettings"] = std::move(custom);
    return json;
}

BatchConfiguration BatchConfiguration::fromJson(const core::Json& json) {
    BatchConfiguration config;
    std::string url = core::requireString(json, "outputDirectory");
    auto folder = core::pathFromFileURL(url);
    if (!folder) throw core::JsonShapeError("Key \"outputDirectory\" must be a file URL.");
    config.outputDirectory = withoutTrailingSeparator(*folder);
    config.createSubfolders = core::requireBool(json, "createSubfolders");
    config.namingPattern = core::requireString(json, "namingPattern");
    config.overwriteExisting = core::requireBool(json, "overwriteExisting");
    auto tasks = core::requireInt(json, "maxConcurrentTasks");
    if (tasks < INT32_MIN || tasks > INT32_MAX)
        throw core::JsonShapeError("Key \"maxConcurrentTasks\" is out of range.");
    config.maxConcurrentTasks = static_cast<int>(tasks);
    config.deleteSourceAfterSuccess = core::requireBool(json, "deleteSourceAfterSuccess");
    config.notifyOnCompletion = core::requireBool(json, "notifyOnCompletion");
    config.customSettings = core::requireStringMap(json, "customSettings");
    return config;
}

} // namespace batch
