#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/Error.h"

namespace core {

using Json = nlohmann::json;

// Raised when a JSON document does not have the shape a reader requires.
class JsonShapeError : public Error {
public:
    using Error::Error;
};

// Strict readers: the key must be present and of the named type, otherwise
// JsonShapeError names the key. Numbers stored as integers are accepted as
// doubles; doubles are not accepted as integers.
const Json& requireKey(const Json& object, std::string_view key);
std::string requireString(const Json& object, std::string_view key);
bool requireBool(const Json& object, std::string_view key);
double requireDouble(const Json& object, std::string_view key);
std::int64_t requireInt(const Json& object, std::string_view key);
std::map<std::string, std::string> requireStringMap(const Json& object, std::string_view key);

// Parses text, turning parse failures into JsonShapeError.
Json parseJson(std::string_view text);
// Serialises with invalid UTF-8 replaced by U+FFFD instead of throwing.
std::string dumpJson(const Json& value, int indent = -1);
// Serialises, refusing text that is not valid UTF-8 with JsonShapeError.
std::string dumpJsonStrict(const Json& value, int indent = -1);

} // namespace core
