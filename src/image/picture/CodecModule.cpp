#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "image/picture/CodecSupport.h"

namespace image::detail {

namespace {

// The module with OpenCV's codecs, found through the program's library
// path (the build's lib folder, or lib/quorvel beside an installed program).
constexpr const char* kModule = "libqv_opencv_codecs.so";

struct CodecModule {
    void (*decode)(const cv::Mat*, int, cv::Mat*) = nullptr;
    bool (*encode)(const std::string*, const cv::Mat*, std::vector<unsigned char>*) = nullptr;
};

template <typename Function>
Function symbol(void* module, const char* name) {
    void* found = dlsym(module, name);
    if (!found) throw std::runtime_error(fmt::format("{} has no {}", kModule, name));
    return reinterpret_cast<Function>(found);
}

// Loaded once, by the first picture that needs it; a failed load is tried
// again by the next.
const CodecModule& codecModule() {
    static const CodecModule module = [] {
        void* handle = dlopen(kModule, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            throw std::runtime_error(fmt::format("OpenCV's image codecs can't be loaded: {}", why ? why : kModule));
        }
        CodecModule loaded;
        loaded.decode = symbol<decltype(loaded.decode)>(handle, "quorvelDecodeImage");
        loaded.encode = symbol<decltype(loaded.encode)>(handle, "quorvelEncodeImage");
        return loaded;
    }();
    return module;
}

} // namespace

cv::Mat openCVDecode(const cv::Mat& encoded, int flags) {
    cv::Mat decoded;
    codecModule().decode(&encoded, flags, &decoded);
    return decoded;
}

bool openCVEncode(const std::string& extension, const cv::Mat& image, std::vector<unsigned char>& encoded) {
    return codecModule().encode(&extension, &image, &encoded);
}

} // namespace image::detail
