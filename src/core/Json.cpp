#include "core/Json.h"

#include <fmt/format.h>

namespace core {

const Json& requireKey(const Json& object, std::string_view key) {
    if (!object.is_object()) throw JsonShapeError("Expected a JSON object.");
    auto it = object.find(key);
    if (it == object.end()) throw JsonShapeError(fmt::format("Missing key \"{}\".", key));
    return *it;
}

std::string requireString(const Json& object, std::string_view key) {
    const Json& v = requireKey(object, key);
    if (!v.is_string()) throw JsonShapeError(fmt::format("Key \"{}\" must be a string.", key));
    return v.get<std::string>();
}

bool requireBool(const Json& object, std::string_view key) {
    const Json& v = requireKey(object, key);
    if (!v.is_boolean()) throw JsonShapeError(fmt::format("Key \"{}\" must be a boolean.", key));
    return v.get<bool>();
}

double requireDouble(const Json& object, std::string_view key) {
    const Json& v = requireKey(object, key);
    if (!v.is_number()) throw JsonShapeError(fmt::format("Key \"{}\" must be a number.", key));
    return v.get<double>();
}

std::int64_t requireInt(const Json& object, std::string_view key) {
    const Json& v = requireKey(object, key);
    if (!v.is_number_integer()) throw JsonShapeError(fmt::format("Key \"{}\" must be an integer.", key));
    return v.get<std::int64_t>();
}

std::map<std::string, std::string> requireStringMap(const Json& object, std::string_view key) {
    const Json& v = requireKey(object, key);
    if (!v.is_object()) throw JsonShapeError(fmt::format("Key \"{}\" must be an object.", key));
    std::map<std::string, std::string> out;
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (!it.value().is_string())
            throw JsonShapeError(fmt::format("Key \"{}\" must map to strings.", key));
        out.emplace(it.key(), it.value().get<std::string>());
    }
    return out;
}

Json parseJson(std::string_view text) {
    try {
        return Json::parse(text);
    } catch (const Json::exception& e) {
        throw JsonShapeError(fmt::format("The data is not valid JSON: {}", e.what()));
    }
}

std::string dumpJson(const Json& value, int indent) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

std::string dumpJsonStrict(const Json& value, int indent) {
    try {
        return value.dump(indent, ' ', false, Json::error_handler_t::strict);
    } catch (const Json::exception&) {
        throw JsonShapeError("A text value is not valid UTF-8.");
    }
}

} // namespace core
