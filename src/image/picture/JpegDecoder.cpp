#include "image/picture/JpegDecoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
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
// on; whether the picture it gives is whole depends on the warning, and for
// stray bytes on where they are.
enum class Meaning { damage, headerOddity, strayBytes };

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

    // Bytes that belong to no segment: harmless between header segments,
    // damage after picture data (see strayBytesMeanDamage).
    {JWRN_EXTRANEOUS_DATA, Meaning::strayBytes},

    // A header field out of the ordinary: every pixel is there.
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

// Stray bytes before the first scan lie between header segments, where
// cameras and editors leave them. After a scan's data they are data the
// entropy decoder never read: the scan ended before its bytes did (bytes
// inserted, or codes that decoded to other lengths), before the end marker,
// a restart marker or the next scan. Only a byte or two before the end
// marker is the padding some encoders write.
bool strayBytesMeanDamage(const jpeg_decompress_struct& info) {
    constexpr int kEndOfImage = 0xD9;
    constexpr int kPadding = 2;
    const int count = info.err->msg_parm.i[0];
    const int marker = info.err->msg_parm.i[1];
    if (info.input_scan_number == 0) return false;
    return marker != kEndOfImage || count > kPadding;
}

// A warning that isn't judged above counts as damage: a picture libjpeg
// had to patch is not passed on as whole.
bool meansDamage(const jpeg_decompress_struct& info) {
    for (const Judgement& judged : kWarnings) {
        if (judged.code != info.err->msg_code) continue;
        switch (judged.meaning) {
        case Meaning::damage: return true;
        case Meaning::headerOddity: return false;
        case Meaning::strayBytes: return strayBytesMeanDamage(info);
        }
    }
    return true;
}

// Hands libjpeg the file in pieces too short for libjpeg-turbo's fast
// Huffman decoder, which it takes for an MCU only while 512 bytes per block
// are in the buffer (jdhuff.c). The fast decoder turns a code that fits no
// table into a silent zero; the buffered one warns "bad Huffman code", so a
// corrupt scan is told instead of drawn, for a few per cent of the decode.
constexpr std::size_t kPieceBytes = DCTSIZE2 * 8 - 1;

struct PieceSource {
    jpeg_source_mgr base; // first: libjpeg sees only this part
    const JOCTET* data = nullptr;
    std::size_t size = 0;
    std::size_t handed = 0; // bytes given to libjpeg so far
};

PieceSource& sourceOf(j_decompress_ptr info) { return *reinterpret_cast<PieceSource*>(info->src); }

void startSource(j_decompress_ptr) {}
void endSource(j_decompress_ptr) {}

boolean nextPiece(j_decompress_ptr info) {
    PieceSource& source = sourceOf(info);
    if (source.handed >= source.size) {
        // Past the end: an end marker, as libjpeg's own sources give, after
        // the warning that makes the picture damaged.
        static const JOCTET kEnd[] = {0xFF, JPEG_EOI};
        WARNMS(info, JWRN_JPEG_EOF);
        source.base.next_input_byte = kEnd;
        source.base.bytes_in_buffer = sizeof kEnd;
        return TRUE;
    }
    const std::size_t piece = std::min(kPieceBytes, source.size - source.handed);
    source.base.next_input_byte = source.data + source.handed;
    source.base.bytes_in_buffer = piece;
    source.handed += piece;
    return TRUE;
}

void skipBytes(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    PieceSource& source = sourceOf(info);
    auto skip = static_cast<std::size_t>(count);
    // Past the end, nextPiece's warning leaves by longjmp, as it does from
    // libjpeg's own sources.
    while (skip > source.base.bytes_in_buffer) {
        skip -= source.base.bytes_in_buffer;
        source.base.bytes_in_buffer = 0;
        nextPiece(info);
    }
    source.base.next_input_byte += skip;
    source.base.bytes_in_buffer -= skip;
}

void readFrom(jpeg_decompress_struct& info, PieceSource& source, Bytes bytes) {
    source.base.init_source = startSource;
    source.base.fill_input_buffer = nextPiece;
    source.base.skip_input_data = skipBytes;
    source.base.resync_to_restart = jpeg_resync_to_restart;
    source.base.term_source = endSource;
    source.base.next_input_byte = nullptr;
    source.base.bytes_in_buffer = 0;
    source.data = bytes.data();
    source.size = bytes.size();
    info.src = &source.base;
}

// libjpeg reports through this; the escape leaves the decoding frame with
// longjmp, as libjpeg's error handling is made for.
struct ErrorManager {
    jpeg_error_mgr base; // first: libjpeg sees only this part
    std::jmp_buf escape;
    // The warning that made the picture unusable, in libjpeg's words.
    bool damaged = false;
    char warning[JMSG_LENGTH_MAX] = {};
    // The fatal error, when there was one, and its first parameter (the
    // marker of a coding process not read).
    int fatalCode = 0;
    int fatalParameter = 0;
    // Whether jpeg_read_header came back: the header fields are then set.
    bool headerRead = false;
};

ErrorManager& managerOf(j_common_ptr info) { return *reinterpret_cast<ErrorManager*>(info->err); }

[[noreturn]] void onFatalError(j_common_ptr info) {
    ErrorManager& manager = managerOf(info);
    manager.fatalCode = info->err->msg_code;
    manager.fatalParameter = info->err->msg_parm.i[0];
    std::longjmp(manager.escape, 1);
}

void onMessage(j_common_ptr info, int level) {
    if (level >= 0) return; // trace messages
    if (!meansDamage(*reinterpret_cast<j_decompress_ptr>(info))) return;
    ErrorManager& manager = managerOf(info);
    info->err->format_message(info, manager.warning);
    manager.damaged = true;
    std::longjmp(manager.escape, 1);
}

// The coding process a frame marker names, for those libjpeg stops at: the
// lossless ones (plain and differential, Huffman and arithmetic) and the
// other differential (hierarchical) ones.
std::optional<JpegVariant::Kind> unreadProcess(int marker) {
    switch (marker) {
    case 0xC3: case 0xC7: case 0xCB: case 0xCF: return JpegVariant::Kind::lossless;
    case 0xC5: case 0xC6: case 0xCD: case 0xCE: return JpegVariant::Kind::hierarchical;
    default: return std::nullopt;
    }
}

// The kind of valid JPEG that is not read, when the file is one.
std::optional<JpegVariant> unreadVariant(const jpeg_decompress_struct& info, const ErrorManager& manager) {
    if (manager.fatalCode == JERR_SOF_UNSUPPORTED)
        if (const auto process = unreadProcess(manager.fatalParameter)) return JpegVariant{*process, 0};
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
bool decompress(jpeg_decompress_struct& info, ErrorManager& manager, PieceSource& source, Bytes bytes, cv::Mat& out,
                bool& inks) {
    if (setjmp(manager.escape)) return false;
    jpeg_create_decompress(&info);
    readFrom(info, source, bytes);
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
bool headerNamesInks(jpeg_decompress_struct& info, ErrorManager& manager, PieceSource& source, Bytes bytes) {
    if (setjmp(manager.escape)) return false;
    jpeg_create_decompress(&info);
    readFrom(info, source, bytes);
    jpeg_read_header(&info, TRUE);
    return info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
}

// The decompressor's state, made by decompress() and released here (a
// state never made has nothing to release).
struct Decompressor {
    jpeg_decompress_struct info{};
    ErrorManager manager;
    PieceSource source;
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
    if (decompress(jpeg.info, jpeg.manager, jpeg.source, bytes, picture.pixels, inks)) {
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
    return headerNamesInks(jpeg.info, jpeg.manager, jpeg.source, bytes);
}

} // namespace image::detail
