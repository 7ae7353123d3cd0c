#pragma once

// The fixed texts of the real-estate and game-texture editions that the
// window and its panels show, kept in one place.
namespace ui::texts {

// Real-estate edition.
inline constexpr const char* kHalvaneDropTitle = "Drop Listing Photos Here";
inline constexpr const char* kHalvaneDropHint =
    "Merges brackets, straightens verticals and strips location data, then exports the web and print sets.";
inline constexpr const char* kHalvaneItemNoun = "photo";
inline constexpr const char* kHalvaneFileFilter = "Photos";
inline constexpr const char* kHalvaneLogoFilter = "Images (*.png *.jpg *.jpeg)";

// Game-texture edition.
inline constexpr const char* kZentrixDropTitle = "Drop Textures or Sprite Frames Here";
inline constexpr const char* kZentrixDropHint =
    "Packs material maps, converts or makes normal maps, resizes to powers of two, builds sprite sheets "
    "or checks tiling.";
inline constexpr const char* kZentrixItemNoun = "texture";
inline constexpr const char* kZentrixFileFilter = "Textures";

// Shared by both editions.
inline constexpr const char* kProcessAll = "Process All";

} // namespace ui::texts
