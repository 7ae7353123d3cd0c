#include "image/picture/JpegDecoder.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <new>

#include <jerror.h>
#include <jpeglib.h>

namespace image::detail {

namespace {

// libjpeg reports through this; the escape leaves the decoding frame with
// longjmp, as libjpeg's error handling is made for.
struct ErrorManager {
    jpeg_error_mgr base; // first: libjpeg sees only this part
    std::jmp_buf escape;
    // The warning that made the picture unusable, in libjpeg's words.
    bool damaged = false;
    char warning[JMSG_LENGTH_MAX] = {};
    // The fatal error, when there was one.
    int fatalCode = 0;
};

ErrorManager& managerOf(j_common_ptr info) { return *reinterpret_cast<ErrorManager*>(info->err); }

[[noreturn]] void onFatalError(j_common_ptr info) {
    ErrorManager& manager = managerOf(info);
    manager.fatalCode = info->err->msg_code;
    std::longjmp(manager.escape, 1);
}

void onMessage(j_common_ptr info, int level) {
    if (level >= 0) return; // trace messages
    // Stray bytes between segments, which cameras and editors leave, lose
    // nothing. Any other warning (data that ends early or is corrupt) means
    // libjpeg filled in part of the picture itself.
    if (info->err->msg_code == JWRN_EXTRANEOUS_DATA) return;
    ErrorManager& manager = managerOf(info);
    info->err->format_message(info, manager.warning);
    manager.damaged = true;
    std::longjmp(manager.escape, 1);
}

// Adobe's CMYK is stored inverted (255 is no ink); each colour is what its
// ink leaves of the light that black lets through, in OpenCV's arithmetic
// so that pictures come out as they always have.
void inkToRGBA(const JSAMPLE* cmyk, std::uint8_t* rgba, JDIMENSION width) {
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgba += 4) {
        const int k = cmyk[3];
        for (int c = 0; c < 3; ++c) rgba[c] = static_cast<std::uint8_t>(k - (((255 - cmyk[c]) * k) >> 8));
        rgba[3] = 255;
    }
}

// Decodes into `out`, made here at the picture's size. Only trivially
// destructible locals live in this frame, since libjpeg's errors and the
// judged warnings leave it by longjmp. False when they did.
bool decompress(jpeg_decompress_struct& info, ErrorManager& manager, Bytes bytes, cv::Mat& out) {
    if (setjmp(manager.escape)) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    const bool inks = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = inks ? JCS_CMYK : JCS_EXT_RGBA;
    if (std::int64_t{info.image_width} * info.image_height > kMaxImagePixels) return false;
    jpeg_start_decompress(&info);
    out.create(static_cast<int>(info.output_height), static_cast<int>(info.output_width), CV_8UC4);
    JSAMPARRAY inkRow = inks ? info.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                                      info.output_width * 4, 1)
                             : nullptr;
    while (info.output_scanline < info.output_height) {
        auto* row = out.ptr<std::uint8_t>(static_cast<int>(info.output_scanline));
        if (inks) {
            jpeg_read_scanlines(&info, inkRow, 1);
            inkToRGBA(inkRow[0], row, info.output_width);
        } else {
            JSAMPROW rows[1] = {row};
            jpeg_read_scanlines(&info, rows, 1);
        }
    }
    // The rest of the file up to its end marker: a warning there counts too.
    jpeg_finish_decompress(&info);
    return true;
}

// The decompressor's state, made by decompress() and released here (a
// state never made has nothing to release).
struct Decompressor {
    jpeg_decompress_struct info{};
    ErrorManager manager;
    Decompressor() {
        info.err = jpeg_std_error(&manager.base);
        manager.base.error_exit = onFatalError;
        manager.base.emit_message = onMessage;
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

} // namespace

std::optional<cv::Mat> decodeJpeg(Bytes bytes) {
    Decompressor jpeg;
    cv::Mat rgba;
    if (decompress(jpeg.info, jpeg.manager, bytes, rgba)) return rgba;
    if (jpeg.manager.damaged) throw DamagedData(jpeg.manager.warning);
    if (jpeg.manager.fatalCode == JERR_OUT_OF_MEMORY) throw std::bad_alloc();
    return std::nullopt;
}

} // namespace image::detail
