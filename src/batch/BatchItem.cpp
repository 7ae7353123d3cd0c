#include "batch/BatchItem.h"

#include <cmath>
#include <system_error>

#include <fmt/format.h>


namespace batch {

namespace fs = std::filesystem;

namespace {

std::int64_t readFileSize(const fs::path& path) {
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    if (ec) return 0;
    if (size > static_cast<std::uintmax_t>(INT64_MAX)) return 0;
    return static_cast<std::int64_t>(size);
}

// ASCII lower case: extensions are compared as written in supportedExtensions.
std::string lowerASCII(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

void hashCombine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
}

} // namespace

BatchItem::BatchItem(core::Uuid id, fs::path sourceURL, std::optional<fs::path> destinationURL,
                     ProcessingStatus status, double progress, std::optional<std::string> errorMessage,
                     std::map<std::string, std::string> metadata)
    : id(id), sourceURL(std::move(sourceURL)), destinationURL(std::move(destinationURL)), status(status),
      progress(progress), errorMessage(std::move(errorMessage)), metadata(std::move(metadata)),
      queuedAt(core::Clock::now()) {
    fs::path name = this->sourceURL.filename();
    originalFileName = name.stem().string();
    std::string ext = name.extension().string();
    fileExtension = lowerASCII(ext.empty() ? ext : ext.substr(1));
    fileSize = readFileSize(this->sourceURL);
}

std::string BatchItem::formattedFileSize() const { return formatByteCount(fileSize); }

std::string formatByteCount(std::int64_t bytes) {
    if (bytes == 0) return "Zero KB";
    const bool negative = bytes < 0;
    // Magnitude as a double; INT64_MIN has no positive counterpart.
    double magnitude = negative ? -static_cast<double>(bytes) : static_cast<double>(bytes);
    const std::string sign = negative ? "-" : "";
    if (magnitude < 1000) {
        auto count = static_cast<std::int64_t>(magnitude);
        return fmt::format("{}{} {}", sign, count, count == 1 ? "byte" : "bytes");
    }
    // Decimal units; places shown grow with the unit: none for KB, one for
    // MB, two from GB on. Trailing zeros are dropped.
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    static constexpr int kPlaces[] = {0, 1, 2, 2, 2, 2};
    int unit = 0;
    double value = magnitude / 1000;
    while (true) {
        double scale = std::pow(10.0, kPlaces[unit]);
        double rounded = std::round(value * scale) / scale;
        if (rounded >= 1000 && unit + 1 < static_cast<int>(std::size(kUnits))) {
            value /= 1000;
            ++unit;
            continue;
        }
        std::string text = fmt::format("{:.{}f}", rounded, kPlaces[unit]);
        if (text.find('.') != std::string::npos) {
            while (text.back() == '0') text.pop_back();
            if (text.back() == '.') text.pop_back();
        }
        return fmt::format("{}{} {}", sign, text, kUnits[unit]);
    }
}

} // namespace batch

std::size_t std::hash<batch::BatchItem>::operator()(const batch::BatchItem& item) const noexcept {
    std::size_t seed = std::hash<core::Uuid>{}(item.id);
    auto str = [](const std::string& s) { return std::hash<std::string>{}(s); };
    auto date = [](core::Date d) { return std::hash<core::Clock::rep>{}(d.time_since_epoch().count()); };
    batch::hashCombine(seed, std::filesystem::hash_value(item.sourceURL));
    batch::hashCombine(seed, str(item.originalFileName));
    batch::hashCombine(seed, str(item.fileExtension));
    batch::hashCombine(seed, std::hash<std::int64_t>{}(item.fileSize));
    batch::hashCombine(seed, item.destinationURL ? std::filesystem::hash_value(*item.destinationURL) : 0u);
    batch::hashCombine(seed, static_cast<std::size_t>(item.status));
    batch::hashCombine(seed, std::hash<double>{}(item.progress));
    batch::hashCombine(seed, item.errorMessage ? str(*item.errorMessage) : 0u);
    for (const auto& [key, value] : item.metadata) {
        batch::hashCombine(seed, str(key));
        batch::hashCombine(seed, str(value));
    }
    batch::hashCombine(seed, date(item.queuedAt));
    batch::hashCombine(seed, item.completedAt ? date(*item.completedAt) : 0u);
    return seed;
}
