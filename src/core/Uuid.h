#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// A random (version 4) UUID. Text form is upper case, as the JSON files use.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text); // either letter case
    std::string text() const;                                  // upper case
    bool isNil() const;

    auto operator<=>(const Uuid&) const = default;
};

} // namespace core

template <> struct std::hash<core::Uuid> {
    std::size_t operator()(const core::Uuid& u) const noexcept {
        std::size_t h = 1469598103934665603ull;
        for (auto b : u.bytes) h = (h ^ b) * 1099511628211ull;
        return h;
    }
};
