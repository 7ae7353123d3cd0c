#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace image {

// A small writer of XML property lists (Apple's PropertyList-1.0 DTD): the
// caller opens and closes dictionaries and arrays and writes keys and values
// in order; dictionary keys are written in the order given (callers that
// need sorted keys sort them). Text is made safe for XML: invalid UTF-8 and
// characters XML 1.0 forbids become U+FFFD, markup characters are escaped
// and a carriage return survives as a character reference.
class PlistWriter {
public:
    PlistWriter();

    void beginDict();
    void endDict();
    void beginArray();
    void endArray();
    void emptyArray();
    void key(std::string_view text);
    void string(std::string_view text);
    void integer(std::int64_t value);
    void boolean(bool value);

    // The document, closed with </plist>.
    std::string finish();

private:
    void line(std::string_view text);
    std::string out_;
    int depth_ = 0;
};

// `text` as XML character data.
std::string xmlEscape(std::string_view text);

} // namespace image
