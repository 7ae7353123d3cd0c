#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace core {

// One row of an enumeration's text table: the case, its raw value (the text
// stored in settings and files) and its display text.
template <typename E> struct EnumRow {
    E value;
    std::string_view raw;
    std::string_view display;
};

// The facts of an enumeration with texts, written once:
//   inline constexpr core::EnumTable<Mode, 3> kModes{{{...}, {...}, {...}}};
// and then rawValue / fromRaw / allCases / displayName come from it.
template <typename E, std::size_t N> struct EnumTable {
    std::array<EnumRow<E>, N> rows;

    constexpr std::string_view rawValue(E e) const {
        for (const auto& r : rows)
            if (r.value == e) return r.raw;
        return {};
    }
    constexpr std::string_view displayName(E e) const {
        for (const auto& r : rows)
            if (r.value == e) return r.display;
        return {};
    }
    // Exact match only: other letter case or a display text gives nothing.
    constexpr std::optional<E> fromRaw(std::string_view raw) const {
        for (const auto& r : rows)
            if (r.raw == raw) return r.value;
        return std::nullopt;
    }
    std::vector<E> allCases() const {
        std::vector<E> out;
        out.reserve(N);
        for (const auto& r : rows) out.push_back(r.value);
        return out;
    }
};

} // namespace core
