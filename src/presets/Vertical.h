#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/BatchPreset.h"
#include "core/EnumTable.h"

namespace presets {

// The editions that share the batch engine.
enum class Vertical { halvane, zentrix, quorvel };

inline constexpr core::EnumTable<Vertical, 3> kVerticals{{{
    {Vertical::halvane, "halvane", "Halvane Pro"},
    {Vertical::zentrix, "texture", "Zentrix Express"},
    {Vertical::quorvel, "quorvel", "Quorvel"},
}}};

inline std::string_view rawValue(Vertical v) { return kVerticals.rawValue(v); }
inline std::string_view displayName(Vertical v) { return kVerticals.displayName(v); }
// Exact, case-sensitive match of "halvane", "texture" or "quorvel".
inline std::optional<Vertical> verticalFromRaw(std::string_view raw) { return kVerticals.fromRaw(raw); }
inline std::vector<Vertical> allVerticals() { return kVerticals.allCases(); }

// A new preset of the edition's type with every option at its default.
std::unique_ptr<batch::BatchPreset> defaultPreset(Vertical v);
// The id of the edition's default preset (built to read it).
std::string presetID(Vertical v);
// Loose lookup: lower-cased (not trimmed) and matched against the aliases
// ("podcast", "game", "photos", raw values, preset ids).
std::optional<Vertical> verticalFromName(std::string_view name);
// The first edition whose presetID is exactly the text.
std::optional<Vertical> verticalFromPresetID(std::string_view id);

} // namespace presets
