#include "core/FileURL.h"

#include "core/Text.h"

namespace core {

namespace fs = std::filesystem;

std::string fileURLText(const fs::path& path, bool isDirectory) {
    std::error_code ec;
    fs::path abs = path.is_absolute() ? path : fs::absolute(path, ec);
    std::string p = abs.lexically_normal().generic_string();
    if (isDirectory && (p.empty() || p.back() != '/')) p += '/';
    static const char* hex = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : p) {
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '.' || c == '_' || c == '~' || c == '/' || c == '!' ||
                          c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' ||
                          c == '+' || c == ',' || c == ';' || c == '=' || c == ':' || c == '@';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::optional<fs::path> pathFromFileURL(std::string_view url) {
    std::string_view rest;
    if (startsWith(url, "file:///"))
        rest = url.substr(7);
    else if (startsWith(url, "file://localhost/"))
        rest = url.substr(16);
    else
        return std::nullopt;
    std::string out;
    for (size_t i = 0; i < rest.size(); ++i) {
        char c = rest[i];
        if (c == '?' || c == '#') break;
        if (c == '%') {
            auto hexv = [](char h) -> int {
                if (h >= '0' && h <= '9') return h - '0';
                if (h >= 'a' && h <= 'f') return h - 'a' + 10;
                if (h >= 'A' && h <= 'F') return h - 'A' + 10;
                return -1;
            };
            if (i + 2 >= rest.size()) return std::nullopt;
            int hi = hexv(rest[i + 1]), lo = hexv(rest[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            char decoded = static_cast<char>(hi * 16 + lo);
            if (decoded == '\0') return std::nullopt;
            out += decoded;
            i += 2;
        } else {
            out += c;
        }
    }
    return fs::path(out);
}

} // namespace core
