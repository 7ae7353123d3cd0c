#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include <fmt/format.h>

#include "image/picture/CodecSupport.h"

namespace image::detail {

namespace {

// The module with OpenCV's codecs: beside an installed program in
// lib/quorvel, or in the build's lib folder. It is looked for by its full
// path, not through the program's run path, which dlopen doesn't see when
// a sanitizer's interceptor makes the call.
constexpr const char* kModule = "libqv_opencv_codecs.so";

std::filesystem::path modulePath() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path installed = program.parent_path() / QUORVEL_MODULE_DIR_FROM_PROGRAM / kModule;
        if (fs::is_regular_file(installed, error)) return installed;
    }
    return fs::path(QUORVEL_BUILD_MODULE_DIR) / kModule;
}

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
        const std::string path = modulePath().string();
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            throw std::runtime_error(fmt::format("OpenCV's image codecs can't be loaded: {}", why ? why : path));
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
