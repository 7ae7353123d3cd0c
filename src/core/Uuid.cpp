#include "core/Uuid.h"

#include <openssl/rand.h>
#include <random>
#include <stdexcept>

namespace core {

Uuid Uuid::random() {
    Uuid u;
    if (RAND_bytes(u.bytes.data(), static_cast<int>(u.bytes.size())) != 1) {
        std::random_device rd;
        for (auto& b : u.bytes) b = static_cast<std::uint8_t>(rd());
    }
    u.bytes[6] = static_cast<std::uint8_t>((u.bytes[6] & 0x0F) | 0x40);
    u.bytes[8] = static_cast<std::uint8_t>((u.bytes[8] & 0x3F) | 0x80);
    return u;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Uuid u;
    size_t bi = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        int hi = hex(text[i]), lo = hex(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        u.bytes[bi++] = static_cast<std::uint8_t>(hi * 16 + lo);
        i += 2;
    }
    return u;
}

std::string Uuid::text() const {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    s.reserve(36);
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 0x0F];
    }
    return s;
}

bool Uuid::isNil() const {
    for (auto b : bytes)
        if (b) return false;
    return true;
}

} // namespace core
