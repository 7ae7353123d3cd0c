#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Dates.h"
#include "core/EnumTable.h"
#include "core/Uuid.h"

namespace batch {

// The state of one queued item. The last four cases are terminal.
enum class ProcessingStatus { pending, processing, completed, failed, skipped, cancelled };

inline constexpr core::EnumTable<ProcessingStatus, 6> kProcessingStatuses{{{
    {ProcessingStatus::pending, "Pending", "Pending"},
    {ProcessingStatus::processing, "Processing", "Processing"},
    {ProcessingStatus::completed, "Completed", "Completed"},
    {ProcessingStatus::failed, "Failed", "Failed"},
    {ProcessingStatus::skipped, "Skipped", "Skipped"},
    {ProcessingStatus::cancelled, "Cancelled", "Cancelled"},
}}};

inline std::string_view rawValue(ProcessingStatus s) { return kProcessingStatuses.rawValue(s); }
// Exact, case-sensitive match of one of the six texts.
inline std::optional<ProcessingStatus> processingStatusFromRaw(std::string_view raw) {
    return kProcessingStatuses.fromRaw(raw);
}
inline std::vector<ProcessingStatus> allProcessingStatuses() { return kProcessingStatuses.allCases(); }
constexpr bool isTerminal(ProcessingStatus s) {
    return s != ProcessingStatus::pending && s != ProcessingStatus::processing;
}

// One queued input file. A plain value: copies are independent. The fields
// id, sourceURL, originalFileName, fileExtension, fileSize and queuedAt are
// filled by the constructor and not meant to be changed afterwards.
struct BatchItem {
    core::Uuid id;
    std::filesystem::path sourceURL;
    std::string originalFileName;  // last component without its last extension
    std::string fileExtension;     // last extension, lower case, no dot; may be empty
    std::int64_t fileSize = 0;     // bytes when made; 0 when unreadable
    std::optional<std::filesystem::path> destinationURL;
    ProcessingStatus status = ProcessingStatus::pending;
    double progress = 0;           // 0 to 1
    std::optional<std::string> errorMessage;
    std::map<std::string, std::string> metadata;
    core::Date queuedAt;
    std::optional<core::Date> completedAt;

    // Never fails: an unreadable file gives fileSize 0.
    BatchItem(core::Uuid id, std::filesystem::path sourceURL,
              std::optional<std::filesystem::path> destinationURL = std::nullopt,
              ProcessingStatus status = ProcessingStatus::pending, double progress = 0,
              std::optional<std::string> errorMessage = std::nullopt,
              std::map<std::string, std::string> metadata = {});

    // fileSize in the decimal file style ("Zero KB", "532 bytes", "1.5 MB").
    std::string formattedFileSize() const;

    bool operator==(const BatchItem&) const = default;
};

// Byte count in the decimal file style used to show file sizes.
std::string formatByteCount(std::int64_t bytes);

} // namespace batch

template <> struct std::hash<batch::BatchItem> {
    std::size_t operator()(const batch::BatchItem& item) const noexcept;
};
