#include "batch/ExecutionReport.h"

#include <cmath>

namespace batch {

namespace {

std::vector<std::string> requireStringList(const core::Json& json, std::string_view key) {
    const core::Json& value = core::requireKey(json, key);
    if (!value.is_array()) throw core::JsonShapeError("Key \"" + std::string(key) + "\" must be an array.");
    std::vector<std::string> out;
    out.reserve(value.size());
    for (const auto& entry : value) {
        if (!entry.is_string())
            throw core::JsonShapeError("Key \"" + std::string(key) + "\" must hold strings.");
        out.push_back(entry.get<std::string>());
    }
    return out;
}

int requireCount(const core::Json& json, std::string_view key) {
    auto value = core::requireInt(json, key);
    if (value < INT32_MIN || value > INT32_MAX)
        throw core::JsonShapeError("Key \"" + std::string(key) + "\" is out of range.");
    return static_cast<int>(value);
}

} // namespace

double ExecutionReport::throughputMegabytesPerSec() const {
    // NaN fails the comparison too.
    if (!(durationSeconds > 0)) return 0;
    return static_cast<double>(bytesProcessed) * std::ldexp(1.0, -20) / durationSeconds;
}

core::Json ExecutionReport::toJson() const {
    core::Json json = core::Json::object();
    json["id"] = id.text();
    json["presetID"] = presetID;
    json["presetName"] = presetName;
    json["totalProcessed"] = totalProcessed;
    json["successCount"] = successCount;
    json["failureCount"] = failureCount;
    json["skippedCount"] = skippedCount;
    json["bytesProcessed"] = bytesProcessed;
    json["durationSeconds"] = durationSeconds;
    json["timestamp"] = core::secondsSince2001(timestamp);
    json["outputFiles"] = outputFiles;
    json["errors"] = errors;
    return json;
}

ExecutionReport ExecutionReport::fromJson(const core::Json& json) {
    ExecutionReport report;
    auto id = core::Uuid::parse(core::requireString(json, "id"));
    if (!id) throw core::JsonShapeError("Key \"id\" must be a UUID.");
    report.id = *id;
    report.presetID = core::requireString(json, "presetID");
    report.presetName = core::requireString(json, "presetName");
    report.totalProcessed = requireCount(json, "totalProcessed");
    report.successCount = requireCount(json, "successCount");
    report.failureCount = requireCount(json, "failureCount");
    report.skippedCount = requireCount(json, "skippedCount");
    report.bytesProcessed = core::requireInt(json, "bytesProcessed");
    report.durationSeconds = core::requireDouble(json, "durationSeconds");
    report.timestamp = core::dateFromSecondsSince2001(core::requireDouble(json, "timestamp"));
    report.outputFiles = requireStringList(json, "outputFiles");
    report.errors = requireStringList(json, "errors");
    return report;
}

} // namespace batch
