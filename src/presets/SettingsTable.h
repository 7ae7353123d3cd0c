#pragma once

// Internal to the settings codec: the per-edition option tables and the
// one loop that applies a settings map through a table.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/Text.h"
#include "presets/PresetSettingsCodec.h"

namespace presets::settings {

using SettingsMap = PresetSettingsCodec::SettingsMap;
using CodecError = PresetSettingsCodec::CodecError;

// One option: its key, its help, how its value is written and how a value
// text is read onto the preset. `read` throws CodecError (invalidValue for
// `key`) and changes nothing when it refuses the text.
template <typename P> struct OptionRow {
    std::string_view key;
    std::string_view help;
    std::string (*write)(const P& preset);
    void (*read)(P& preset, const std::string& key, const std::string& value, const SettingsMap& all);
};

template <typename P> using OptionTable = std::vector<OptionRow<P>>;

const OptionTable<HalvanePreset>& halvaneTable();
const OptionTable<ZentrixPreset>& zentrixTable();
const OptionTable<QuorvelPreset>& quorvelTable();

template <typename P> std::vector<std::string> keys(const OptionTable<P>& table) {
    std::vector<std::string> out;
    out.reserve(table.size());
    for (const auto& row : table) out.emplace_back(row.key);
    return out;
}

template <typename P> std::vector<PresetSettingsCodec::Option> options(const OptionTable<P>& table) {
    std::vector<PresetSettingsCodec::Option> out;
    out.reserve(table.size());
    for (const auto& row : table) out.push_back({std::string(row.key), std::string(row.help)});
    return out;
}

template <typename P> SettingsMap encode(const OptionTable<P>& table, const P& preset) {
    SettingsMap out;
    for (const auto& row : table) out.emplace(std::string(row.key), row.write(preset));
    return out;
}

// The entries in ascending key order, with `first` (when not empty) ahead of
// every other key.
inline std::vector<const SettingsMap::value_type*> ordered(const SettingsMap& values, std::string_view first) {
    std::vector<const SettingsMap::value_type*> out;
    out.reserve(values.size());
    for (const auto& entry : values) out.push_back(&entry);
    std::stable_sort(out.begin(), out.end(), [first](const auto* a, const auto* b) {
        const bool aFirst = !first.empty() && a->first == first;
        const bool bFirst = !first.empty() && b->first == first;
        if (aFirst != bFirst) return aFirst;
        return a->first < b->first;
    });
    return out;
}

// Applies the entries in the given order. "namingPattern" and the keys in
// `ignored` are skipped; an unknown key or a refused value is thrown in
// strict mode and dropped in lenient mode.
template <typename P>
void applyEntries(const OptionTable<P>& table, P& preset, const std::vector<const SettingsMap::value_type*>& entries,
                  const SettingsMap& all, bool strict, std::vector<std::string_view> ignored = {}) {
    for (const auto* entry : entries) {
        const std::string& key = entry->first;
        if (key == PresetSettingsCodec::namingPatternKey) continue;
        if (std::find(ignored.begin(), ignored.end(), key) != ignored.end()) continue;
        const auto row = std::find_if(table.begin(), table.end(), [&](const auto& r) { return r.key == key; });
        try {
            if (row == table.end()) throw CodecError::unknownKey(key, keys(table));
            row->read(preset, key, entry->second, all);
        } catch (const CodecError&) {
            if (strict) throw;
        }
    }
}

// The value lower-cased and looked up with `lookup` (a text to optional
// case); invalidValue with `expected` when it gives nothing.
template <typename Lookup>
auto lowered(const std::string& key, const std::string& value, Lookup lookup, std::string_view expected) {
    auto found = lookup(core::toLower(value));
    if (!found) throw CodecError::invalidValue(key, value, std::string(expected));
    return *found;
}

} // namespace presets::settings
