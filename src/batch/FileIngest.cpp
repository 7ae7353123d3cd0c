#include "batch/FileIngest.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "core/NaturalCollator.h"
#include "core/Text.h"

namespace batch {

namespace fs = std::filesystem;

namespace {

// Folder suffixes that make a folder a package: shown and handled as one
// document, never searched for inputs.
constexpr std::array<std::string_view, 15> kPackageExtensions{
    "app",  "appex",    "bundle",   "framework", "kext", "plugin", "xpc", "photoslibrary",
    "rtfd", "musiclibrary", "imovielibrary", "fcpbundle", "logicx", "band", "aplibrary"};

bool isHiddenName(const fs::path& name) {
    const std::string text = name.filename().string();
    return !text.empty() && text.front() == '.';
}

std::string lowerExtension(const fs::path& path) {
    std::string ext = path.filename().extension().string();
    if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
    return core::toLower(ext);
}

class Collector {
public:
    explicit Collector(const std::set<std::string>& allowed) : allowed_(allowed) {}

    // The consider step: `type` is the entry's own type (links not followed).
    void consider(const fs::path& path, fs::file_type type) {
        if (type != fs::file_type::regular) return;
        if (isHiddenName(path)) return;
        if (!allowed_.contains(lowerExtension(path))) return;
        std::string key = path.string();
        if (!taken_.insert(key).second) return;
        found_.push_back(path);
    }

    // Walks a folder at every depth without recursion on the call stack.
    void walk(const fs::path& root) {
        std::vector<fs::path> pending{root};
        while (!pending.empty()) {
            fs::path folder = std::move(pending.back());
            pending.pop_back();
            std::error_code ec;
            fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
            if (ec) continue; // unreadable or vanished: adds nothing
            std::vector<fs::path> subfolders;
            for (fs::directory_iterator end; it != end; it.increment(ec)) {
                if (ec) break;
                const fs::path child = (folder / it->path().filename()).lexically_normal();
                std::error_code typeError;
                const fs::file_type type = it->symlink_status(typeError).type();
                if (typeError) continue;
                if (isHiddenName(child)) continue;
                if (type == fs::file_type::directory) {
                    if (!FileIngest::isPackageName(child)) subfolders.push_back(child);
                } else {
                    consider(child, type);
                }
            }
            // Keep a depth-first, in-folder order for the stable sort's ties.
            for (auto sub = subfolders.rbegin(); sub != subfolders.rend(); ++sub) pending.push_back(*sub);
        }
    }

    std::vector<fs::path> take() { return std::move(found_); }

private:
    const std::set<std::string>& allowed_;
    std::unordered_set<std::string> taken_;
    std::vector<fs::path> found_;
};

fs::path standardized(const fs::path& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) absolute = path;
    fs::path normal = absolute.lexically_normal();
    // "/a/b/" and "/a/b" name the same folder.
    if (normal.has_relative_path() && normal.filename().empty()) normal = normal.parent_path();
    return normal;
}

} // namespace

std::optional<fs::path> FileIngest::droppedFolderLink(const fs::path& path, const fs::file_status& status) {
    if (status.type() != fs::file_type::symlink) return std::nullopt;
    std::error_code ec;
    if (!fs::is_directory(fs::status(path, ec)) || ec) return std::nullopt;
    fs::path target = fs::canonical(path, ec);
    if (ec) return std::nullopt;
    return target;
}

bool FileIngest::isPackageName(const fs::path& name) {
    const std::string ext = lowerExtension(name);
    if (ext.empty()) return false;
    return std::find(kPackageExtensions.begin(), kPackageExtensions.end(), ext) != kPackageExtensions.end();
}

std::vector<fs::path> FileIngest::expand(const std::vector<fs::path>& urls,
                                         const std::set<std::string>& allowedExtensions) {
    Collector collector(allowedExtensions);
    for (const auto& url : urls) {
        if (url.empty()) continue;
        const fs::path path = standardized(url);
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(path, ec);
        if (ec || !fs::exists(status)) continue;
        if (const auto target = droppedFolderLink(path, status)) {
            if (!isPackageName(*target)) collector.walk(*target);
        } else if (status.type() == fs::file_type::directory) {
            // A dropped package is one document, not a folder of inputs.
            if (!isPackageName(path)) collector.walk(path);
        } else {
            collector.consider(path, status.type());
        }
    }
    std::vector<fs::path> result = collector.take();
    const core::NaturalCollator collator;
    std::stable_sort(result.begin(), result.end(), [&](const fs::path& a, const fs::path& b) {
        return collator.compare(a.native(), b.native()) < 0;
    });
    return result;
}

} // namespace batch
