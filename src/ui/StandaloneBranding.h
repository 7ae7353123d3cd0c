#pragma once

#include <string>

namespace ui {

// The texts with which an edition's window presents itself. Shown verbatim.
struct StandaloneBranding {
    std::string title;
    std::string subtitle;
    std::string icon;      // a symbol name, mapped to an icon by the window
    std::string dropTitle;
    std::string dropHint;
    std::string runLabel;
    std::string itemNoun;
    std::string tokens;    // naming-pattern help

    bool operator==(const StandaloneBranding&) const = default;
};

} // namespace ui
