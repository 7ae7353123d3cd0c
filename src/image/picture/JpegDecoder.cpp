#include "image/picture/JpegDecoder.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <new>
#include <optional>

// jpeglib.h first: the message codes jerror.h numbers depend on its
// configuration.
#include <jpeglib.h>

#include <jerror.h>

namespace image::detail {

namespace {

// What a libjpeg warning says about the picture. libjpeg warns and goes
// on; whether the picture it gives is whole depends on the warning.
enum class Meaning { damage, headerOddity };

struct Judgement {
    int code;
    Meaning meaning;
};

constexpr Judgement kWarnings[] = {
    // Picture data missing or corrupt: libjpeg fills in what it couldn't
    // decode itself (grey or repeated blocks).
    {JWRN_JPEG_EOF, Meaning::damage},      // the file ends before the picture does
    {JWRN_HIT_MARKER, Meaning::damage},    // a scan's data ends at a marker before the scan is complete
    {JWRN_HUFF_BAD_CODE, Meaning::damage}, // corrupt Huffman-coded data
#if JPEG_LIB_VERSION >= 70 || defined(D_ARITH_CODING_SUPPORTED)
    {JWRN_ARITH_BAD_CODE, Meaning::damage}, // corrupt arithmetic-coded data
#endif
    // A restart marker missing or out of order: blocks are skipped or
    // padded to get back in step.
    {JWRN_MUST_RESYNC, Meaning::damage},
    // A progressive scan refines coefficients that no earlier scan began
    // (a scan lost or out of order): those coefficients come out wrong.
    {JWRN_BOGUS_PROGRESSION, Meaning::damage},

    // A header field out of the ordinary: every pixel is there.
    // Stray bytes between segments, which cameras and editors leave.
    {JWRN_EXTRANEOUS_DATA, Meaning::headerOddity},
    // A JFIF version other than 1.x; nothing in the picture depends on it.
    {JWRN_JFIF_MAJOR, Meaning::headerOddity},
    // An Adobe transform code that doesn't fit the number of components
    // (1, YCbCr, on a CMYK file): libjpeg takes YCbCr for 3 components and
    // YCCK for 4, as other readers do.
    {JWRN_ADOBE_XFORM, Meaning::headerOddity},
    // A sequential scan whose progression fields aren't 0, 63, 0, 0 (some
    // baseline encoders write zeros): they mean nothing there, and libjpeg
    // decodes the scan as the whole sequential scan it is.
    {JWRN_NOT_SEQUENTIAL, Meaning::headerOddity},
    // A broken ICC marker: a profile is metadata, read (or not) elsewhere.
    {JWRN_BOGUS_ICC, Meaning::headerOddity},
};

// A warning that isn't judged above counts as damage: a picture libjpeg
// had to patch is not passed on as whole.
bool meansDamage(int code) {
    for (const Judgement& judged : kWarnings)
        if (judged.code == code) return judged.meaning == Meaning::damage;
    return true;
}

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
    // Whether jpeg_read_header came back: the header fields are then set.
    bool headerRead = false;
};

ErrorManager& managerOf(j_common_ptr info) { return *reinterpret_cast<ErrorManager*>(info->err); }

[[noreturn]] void onFatalError(j_common_ptr info) {
    ErrorManager& manager = managerOf(info);
    manager.fatalCode = info->err->msg_code;
    std::longjmp(manager.escape, 1);
}

void onMessage(j_common_ptr info, int level) {
    if (level >= 0) return; // trace messages
    if (!meansDamage(info->err->msg_code)) return;
    ErrorManager& manager = managerOf(info);
    info->err->format_message(info, manager.warning);
    manager.damaged = true;
    std::longjmp(manager.escape, 1);
}

// The kind of valid JPEG that is not read, when the file is one.
std::optional<JpegVariant> unreadVariant(const jpeg_decompress_struct& info, const ErrorManager& manager) {
    // libjpeg-turbo's 8-bit reader stops at a 12-bit header.
    if (manager.fatalCode == JERR_BAD_PRECISION || (manager.headerRead && info.data_precision != 8))
        return JpegVariant{JpegVariant::Kind::precision, info.data_precision};
    // libjpeg knows no colour model for other numbers of components.
    if (manager.headerRead && info.jpeg_color_space == JCS_UNKNOWN)
        return JpegVariant{JpegVariant::Kind::colourComponents, info.num_components};
    return std::nullopt;
}

// Decodes into `out`, made here at the picture's size: RGBA, or the inks
// as stored (libjpeg turns YCCK into CMYK) when `inks` comes back true.
// Only trivially destructible locals live in this frame, since libjpeg's
// errors and the judged warnings leave it by longjmp. False when they did,
// or when the header names a kind of JPEG not read.
bool decompress(jpeg_decompress_struct& info, ErrorManager& manager, Bytes bytes, cv::Mat& out, bool& inks) {
    if (setjmp(manager.escape)) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    manager.headerRead = true;
    if (unreadVariant(info, manager)) return false;
    inks = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = inks ? JCS_CMYK : JCS_EXT_RGBA;
    if (std::int64_t{info.image_width} * info.image_height > kMaxImagePixels) return false;
    jpeg_start_decompress(&info);
    out.create(static_cast<int>(info.output_height), static_cast<int>(info.output_width), CV_8UC4);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {out.ptr<std::uint8_t>(static_cast<int>(info.output_scanline))};
        jpeg_read_scanlines(&info, rows, 1);
    }
    // The rest of the file up to its end marker: a warning there counts too.
    jpeg_finish_decompress(&info);
    return true;
}

// Reads the header alone: whether it names inks (CMYK, or YCCK that
// libjpeg turns into CMYK). False when it can't be read. longjmp leaves this
// frame as it does decompress().
bool headerNamesInks(jpeg_decompress_struct& info, ErrorManager& manager, Bytes bytes) {
    if (setjmp(manager.escape)) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    return info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
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

std::optional<JpegPicture> decodeJpeg(Bytes bytes) {
    Decompressor jpeg;
    JpegPicture picture;
    bool inks = false;
    if (decompress(jpeg.info, jpeg.manager, bytes, picture.pixels, inks)) {
        // Adobe's marker is what says the inks are stored inverted.
        if (inks) picture.inks = jpeg.info.saw_Adobe_marker ? InkStorage::inverted : InkStorage::plain;
        return picture;
    }
    if (jpeg.manager.damaged) throw DamagedData(jpeg.manager.warning);
    if (jpeg.manager.fatalCode == JERR_OUT_OF_MEMORY) throw std::bad_alloc();
    if (const auto variant = unreadVariant(jpeg.info, jpeg.manager)) throw UnsupportedDocument(*variant);
    return std::nullopt;
}

bool holdsInks(Bytes bytes) {
    Decompressor jpeg;
    return headerNamesInks(jpeg.info, jpeg.manager, bytes);
}

} // namespace image::detail
