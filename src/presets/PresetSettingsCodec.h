#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/BatchPreset.h"
#include "batch/ExportablePresetBundle.h"
#include "core/Error.h"
#include "episode/MultiFormatExportRequest.h"
#include "image/texture/TextureOptions.h"
#include "presets/HalvanePreset.h"
#include "presets/QuorvelPreset.h"
#include "presets/Vertical.h"
#include "presets/ZentrixPreset.h"

namespace presets {

// A preset's options as option-key/value text, and back. Each edition has one
// option table (key, help, writer, reader); options(), encode() and apply()
// all come from it.
class PresetSettingsCodec {
public:
    PresetSettingsCodec() = delete;

    using SettingsMap = std::map<std::string, std::string>;

    struct Option {
        std::string key;
        std::string help;
        bool operator==(const Option&) const = default;
    };

    class CodecError : public core::Error {
    public:
        enum class Kind { unknownKey, invalidValue };

        static CodecError unknownKey(std::string key, std::vector<std::string> allowed);
        static CodecError invalidValue(std::string key, std::string value, std::string expected);

        Kind kind() const { return kind_; }
        const std::string& key() const { return key_; }
        const std::string& value() const { return value_; }
        const std::string& expected() const { return expected_; }
        const std::vector<std::string>& allowed() const { return allowed_; }

        bool operator==(const CodecError& o) const {
            return kind_ == o.kind_ && key_ == o.key_ && value_ == o.value_ && expected_ == o.expected_ &&
                   allowed_ == o.allowed_;
        }

    private:
        CodecError(Kind kind, std::string description, std::string key, std::string value, std::string expected,
                   std::vector<std::string> allowed);
        Kind kind_;
        std::string key_, value_, expected_;
        std::vector<std::string> allowed_;
    };

    // The entry that carries a bundle's naming pattern; never applied.
    static constexpr std::string_view namingPatternKey = "namingPattern";

    // The edition's option table in order.
    static std::vector<Option> options(Vertical vertical);

    // Exactly the keys of the preset's table; an unknown preset type gives
    // an empty map.
    static SettingsMap encode(const batch::BatchPreset& preset);
    static SettingsMap encode(const HalvanePreset& preset);
    static SettingsMap encode(const ZentrixPreset& preset);
    static SettingsMap encode(const QuorvelPreset& preset);

    // Writes the entries onto the preset. Strict: the first refused entry
    // throws its CodecError (earlier entries stay applied). Lenient: refused
    // entries are skipped one by one and nothing is thrown.
    static void apply(const SettingsMap& values, HalvanePreset& preset, bool strict);
    static void apply(const SettingsMap& values, ZentrixPreset& preset, bool strict);
    static void apply(const SettingsMap& values, QuorvelPreset& preset, bool strict);

    // The edition's default preset with the values applied.
    static std::unique_ptr<batch::BatchPreset> makePreset(Vertical vertical, const SettingsMap& values, bool strict);

    // The preset's settings plus "namingPattern", version "1.0", now.
    static batch::ExportablePresetBundle bundle(const std::string& name, const batch::BatchPreset& preset,
                                                const std::string& namingPattern);

    // Value readers; each throws invalidValue for `key` with the exact text.
    static bool boolValue(const std::string& key, const std::string& value);
    static std::int64_t intValue(const std::string& key, const std::string& value, std::int64_t low,
                                 std::int64_t high);
    static double doubleValue(const std::string& key, const std::string& value, double low, double high);

    // Lookups; nothing when the text is not recognised.
    static std::optional<OperationalMode> mode(std::string_view name);
    static std::optional<image::ScaleMode> scaleMode(std::string_view name);
    static std::optional<episode::ClipChoice> clip(std::string_view name);
    static std::optional<std::filesystem::path> fileURL(std::string_view text);

    // Value writers.
    static std::string boolText(bool value);
    // Shortest text that reads back to the same double, with ".0" on whole
    // values; always "." whatever the process locale.
    static std::string decimalText(double value);
    // Truncated toward zero; non-finite and out-of-range values are clamped
    // (NaN gives 0), so writing never has undefined behaviour.
    static std::string wholeText(double value);
    static std::string wholeText(std::int64_t value);
    static std::string fileText(const std::optional<std::filesystem::path>& file);
};

} // namespace presets
