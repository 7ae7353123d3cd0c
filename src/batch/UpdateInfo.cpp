#include "batch/UpdateInfo.h"

#include "core/Text.h"

namespace batch {

const EditionInfo& editionInfo(Edition e) {
    for (const auto& i : kEditions)
        if (i.value == e) return i;
    return kEditions[0];
}

std::optional<Edition> editionFromRaw(std::string_view slug) {
    for (const auto& i : kEditions)
        if (i.slug == slug) return i.value;
    return std::nullopt;
}

std::vector<Edition> allEditions() {
    std::vector<Edition> out;
    for (const auto& i : kEditions) out.push_back(i.value);
    return out;
}

std::string UpdateInfo::feedURL(Edition edition) {
    return std::string(kFeedBase) + std::string(editionInfo(edition).downloadName) + ".json";
}

UpdateInfo UpdateInfo::decode(std::string_view body) {
    core::Json j = core::parseJson(body);
    UpdateInfo info;
    info.version = core::requireString(j, "version");
    info.build = core::requireInt(j, "build");
    info.url = core::requireString(j, "url");
    auto it = j.find("notes");
    if (it != j.end() && !it->is_null()) {
        if (!it->is_string()) throw core::JsonShapeError("Key \"notes\" must be a string.");
        info.notes = it->get<std::string>();
    }
    return info;
}

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }
} // namespace

int compareVersionsNumerically(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            size_t si = i, sj = j;
            while (i < a.size() && isDigit(a[i])) ++i;
            while (j < b.size() && isDigit(b[j])) ++j;
            auto ra = a.substr(si, i - si), rb = b.substr(sj, j - sj);
            while (ra.size() > 1 && ra.front() == '0') ra.remove_prefix(1);
            while (rb.size() > 1 && rb.front() == '0') rb.remove_prefix(1);
            if (ra.size() != rb.size()) return ra.size() < rb.size() ? -1 : 1;
            if (int c = ra.compare(rb); c != 0) return c < 0 ? -1 : 1;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
            ++i;
            ++j;
        }
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool UpdateInfo::isNewer(std::string_view thanVersion, std::int64_t currentBuild) const {
    int c = compareVersionsNumerically(version, thanVersion);
    if (c > 0) return true;
    if (c == 0) return currentBuild < build;
    return false;
}

bool UpdateInfo::isTrustedDownload() const {
    constexpr std::string_view scheme = "https://";
    if (!core::startsWith(url, scheme)) return false;
    std::string_view rest = std::string_view(url).substr(scheme.size());
    size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    if (authority.find('@') != std::string_view::npos) return false; // no user info
    std::string_view host = authority;
    if (auto colon = host.rfind(':'); colon != std::string_view::npos) host = host.substr(0, colon);
    return host == kServerHost || host == std::string("www.") + std::string(kServerHost);
}

} // namespace batch
