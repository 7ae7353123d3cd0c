#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Dates.h"
#include "core/Json.h"
#include "core/Uuid.h"

namespace batch {

// The summary of one finished run. Build it with aggregate initialisation,
// the twelve fields in order; nothing is checked.
struct ExecutionReport {
    core::Uuid id;
    std::string presetID;
    std::string presetName;
    int totalProcessed = 0;
    int successCount = 0;
    int failureCount = 0;
    int skippedCount = 0;
    std::int64_t bytesProcessed = 0;
    double durationSeconds = 0;
    core::Date timestamp;
    std::vector<std::string> outputFiles; // last path components
    std::vector<std::string> errors;

    // MB (1,048,576 bytes) per second; 0 unless durationSeconds > 0.
    double throughputMegabytesPerSec() const;

    // Twelve keys; id upper-case, timestamp as seconds since 2001.
    core::Json toJson() const;
    // All twelve keys required with their types (core::JsonShapeError otherwise).
    static ExecutionReport fromJson(const core::Json& json);

    bool operator==(const ExecutionReport&) const = default;
};

} // namespace batch
