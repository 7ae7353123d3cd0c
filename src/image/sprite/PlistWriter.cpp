#include "image/sprite/PlistWriter.h"

#include <fmt/format.h>

#include "core/Text.h"

namespace image {

namespace {

// Decodes one code point of valid UTF-8 at `i`, advancing `i`.
char32_t nextCodePoint(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1Fu) : extra == 2 ? (b & 0x0Fu) : (b & 0x07u);
    ++i;
    for (; extra > 0 && i < s.size(); --extra, ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3Fu);
    return cp;
}

bool allowedInXml(char32_t c) {
    return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

} // namespace

std::string xmlEscape(std::string_view raw) {
    const std::string text = core::sanitizeUtf8(raw);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t c = nextCodePoint(text, i);
        switch (c) {
        case U'&': out += "&amp;"; break;
        case U'<': out += "&lt;"; break;
        case U'>': out += "&gt;"; break;
        case U'\r': out += "&#13;"; break;
        default:
            if (allowedInXml(c))
                out.append(text, start, i - start);
            else
                out += "\xEF\xBF\xBD";
        }
    }
    return out;
}

PlistWriter::PlistWriter() {
    out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n";
}

void PlistWriter::line(std::string_view text) {
    out_.append(static_cast<std::size_t>(depth_), '\t');
    out_ += text;
    out_ += '\n';
}

void PlistWriter::beginDict() {
    line("<dict>");
    ++depth_;
}
void PlistWriter::endDict() {
    --depth_;
    line("</dict>");
}
void PlistWriter::beginArray() {
    line("<array>");
    ++depth_;
}
void PlistWriter::endArray() {
    --depth_;
    line("</array>");
}
void PlistWriter::emptyArray() { line("<array/>"); }
void PlistWriter::key(std::string_view text) { line(fmt::format("<key>{}</key>", xmlEscape(text))); }
void PlistWriter::string(std::string_view text) { line(fmt::format("<string>{}</string>", xmlEscape(text))); }
void PlistWriter::integer(std::int64_t value) { line(fmt::format("<integer>{}</integer>", value)); }
void PlistWriter::boolean(bool value) { line(value ? "<true/>" : "<false/>"); }

std::string PlistWriter::finish() {
    out_ += "</plist>\n";
    return std::move(out_);
}

} // namespace image
