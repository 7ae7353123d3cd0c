// Decoders for the formats that need more than OpenCV: HEIF, camera raws,
// OpenEXR. HEIF and raws come back already turned upright by their library.

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include <ImfIO.h>
#include <ImfRgbaFile.h>
#include <ImfArray.h>
#include <exiv2/exiv2.hpp>
#include <lcms2.h>
#include <libheif/heif.h>
#include <libraw/libraw.h>
#include <opencv2/imgproc.hpp>

#include "image/picture/CodecSupport.h"
#include "image/picture/ImageDecoders.h"

namespace image::detail {

namespace {

class HeifContext {
public:
    HeifContext() : context_(newHeifContext()) {}
    ~HeifContext() {
        if (handle_) heif_image_handle_release(handle_);
        heif_context_free(context_);
    }
    HeifContext(const HeifContext&) = delete;
    HeifContext& operator=(const HeifContext&) = delete;

    bool open(Bytes bytes) {
        if (heif_context_read_from_memory_without_copy(context_, bytes.data(), bytes.size(), nullptr).code !=
            heif_error_Ok)
            return false;
        return heif_context_get_primary_image_handle(context_, &handle_).code == heif_error_Ok;
    }
    heif_image_handle* handle() const { return handle_; }

private:
    heif_context* context_;
    heif_image_handle* handle_ = nullptr;
};

std::vector<std::uint8_t> metadataBlock(heif_image_handle* handle, heif_item_id id) {
    std::vector<std::uint8_t> data(heif_image_handle_get_metadata_size(handle, id));
    if (data.empty() || heif_image_handle_get_metadata(handle, id, data.data()).code != heif_error_Ok) return {};
    return data;
}

// An ICC profile equivalent to the nclx description, or nothing when it is
// plain sRGB/BT.709 (or unspecified).
std::vector<std::uint8_t> profileFromNclx(const heif_color_profile_nclx& nclx) {
    if (nclx.color_primaries == heif_color_primaries_ITU_R_BT_709_5 ||
        nclx.color_primaries == heif_color_primaries_unspecified)
        return {};
    // Only SDR curves are translated; PQ/HLG pictures keep their values.
    const auto transfer = nclx.transfer_characteristics;
    if (transfer == heif_transfer_characteristic_ITU_R_BT_2100_0_PQ ||
        transfer == heif_transfer_characteristic_ITU_R_BT_2100_0_HLG)
        return {};
    const cmsCIExyY white{nclx.color_primary_white_x, nclx.color_primary_white_y, 1.0};
    const cmsCIExyYTRIPLE primaries{{nclx.color_primary_red_x, nclx.color_primary_red_y, 1.0},
                                    {nclx.color_primary_green_x, nclx.color_primary_green_y, 1.0},
                                    {nclx.color_primary_blue_x, nclx.color_primary_blue_y, 1.0}};
    // The sRGB curve: Y = ((X + 0.055) / 1.055)^2.4 above 0.04045, X / 12.92 below.
    const cmsFloat64Number params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, params);
    if (!curve) return {};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    if (!profile) return {};
    std::vector<std::uint8_t> icc;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        icc.resize(size);
        if (!cmsSaveProfileToMem(profile, icc.data(), &size)) icc.clear();
    }
    cmsCloseProfile(profile);
    return icc;
}

void readHeifMetadata(heif_image_handle* handle, ImageMetadata& metadata) {
    startExiv2();
    const int exifCount = heif_image_handle_get_number_of_metadata_blocks(handle, "Exif");
    if (exifCount > 0) {
        std::vector<heif_item_id> ids(static_cast<std::size_t>(exifCount));
        heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", ids.data(), exifCount);
        const auto block = metadataBlock(handle, ids.front());
        // The block starts with the offset of the TIFF header after these 4 bytes.
        if (block.size() > 4) {
            const std::size_t skip = 4 + ((std::size_t{block[0]} << 24) | (std::size_t{block[1]} << 16) |
                                          (std::size_t{block[2]} << 8) | block[3]);
            if (skip < block.size()) {
                try {
                    Exiv2::ExifParser::decode(metadata.exif, block.data() + skip, static_cast<std::uint32_t>(block.size() - skip));
                } catch (const Exiv2::AnyError&) {
                    metadata.exif.clear();
                }
            }
        }
    }
    const int mimeCount = heif_image_handle_get_number_of_metadata_blocks(handle, "mime");
    if (mimeCount > 0) {
        std::vector<heif_item_id> ids(static_cast<std::size_t>(mimeCount));
        heif_image_handle_get_list_of_metadata_block_IDs(handle, "mime", ids.data(), mimeCount);
        for (const heif_item_id id : ids) {
            const char* type = heif_image_handle_get_metadata_content_type(handle, id);
            if (!type || std::string_view(type) != "application/rdf+xml") continue;
            const auto block = metadataBlock(handle, id);
            const std::string packet(block.begin(), block.end());
            const auto xmp = lockXmpToolkit();
            if (Exiv2::XmpParser::decode(metadata.xmp, packet) != 0) metadata.xmp.clear();
            break;
        }
    }
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        metadata.icc.resize(heif_image_handle_get_raw_color_profile_size(handle));
        if (!metadata.icc.empty() && heif_image_handle_get_raw_color_profile(handle, metadata.icc.data()).code != heif_error_Ok)
            metadata.icc.clear();
        break;
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx* nclx = nullptr;
        if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx) {
            metadata.icc = profileFromNclx(*nclx);
            heif_nclx_color_profile_free(nclx);
        }
        break;
    }
    default:
        break;
    }
}

// OpenEXR input from a buffer in memory.
class MemoryStream : public Imf::IStream {
public:
    explicit MemoryStream(Bytes bytes) : Imf::IStream("memory"), bytes_(bytes) {}
    bool read(char c[], int n) override {
        if (n < 0 || position_ + static_cast<std::size_t>(n) > bytes_.size())
            throw DamagedData::cutShort();
        std::memcpy(c, bytes_.data() + position_, static_cast<std::size_t>(n));
        position_ += static_cast<std::size_t>(n);
        return position_ < bytes_.size();
    }
    std::uint64_t tellg() override { return position_; }
    void seekg(std::uint64_t pos) override { position_ = static_cast<std::size_t>(std::min<std::uint64_t>(pos, bytes_.size())); }

private:
    Bytes bytes_;
    std::size_t position_ = 0;
};

} // namespace

void startHeif() {
    static std::once_flag once;
    // A failed start (a plugin that doesn't load) leaves the built-in codecs,
    // and decoding reports what is missing.
    std::call_once(once, [] { heif_init(nullptr); });
}

heif_context* newHeifContext() {
    startHeif();
    return heif_context_alloc();
}

std::optional<Image> decodeHeif(Bytes bytes, bool upright) {
    HeifContext context;
    if (!context.open(bytes)) return std::nullopt;
    heif_image_handle* handle = context.handle();
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle) > 8;
    heif_decoding_options* options = heif_decoding_options_alloc();
    options->ignore_transformations = upright ? 0 : 1;
    heif_image* decoded = nullptr;
    const heif_error error =
        heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                          deep ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RGBA, options);
    heif_decoding_options_free(options);
    if (error.code != heif_error_Ok || !decoded) return std::nullopt;

    Image image;
    const int width = heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded, heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    if (plane && width > 0 && height > 0) {
        if (deep) {
            const int bits = std::clamp(heif_image_get_bits_per_pixel_range(decoded, heif_channel_interleaved), 9, 16);
            const double scale = 65535.0 / ((1 << bits) - 1);
            cv::Mat stored(height, width, CV_16UC4, const_cast<std::uint8_t*>(plane), static_cast<std::size_t>(stride));
            stored.convertTo(image.pixels, CV_16UC4, scale);
        } else {
            cv::Mat(height, width, CV_8UC4, const_cast<std::uint8_t*>(plane), static_cast<std::size_t>(stride))
                .copyTo(image.pixels);
        }
    }
    heif_image_release(decoded);
    if (image.pixels.empty()) return std::nullopt;
    readHeifMetadata(handle, image.metadata);
    return image;
}

std::optional<ImageMetadata> heifMetadata(Bytes bytes) {
    HeifContext context;
    if (!context.open(bytes)) return std::nullopt;
    ImageMetadata metadata;
    readHeifMetadata(context.handle(), metadata);
    return metadata;
}

std::optional<Image> decodeRaw(Bytes bytes, bool upright) {
    auto raw = std::make_unique<LibRaw>();
    auto& params = raw->imgdata.params;
    params.output_bps = 16;
    params.output_color = 1; // sRGB primaries
    params.use_camera_wb = 1;
    params.gamm[0] = 1.0 / 2.4; // the sRGB curve
    params.gamm[1] = 12.92;
    params.user_flip = upright ? -1 : 0;
    if (raw->open_buffer(const_cast<std::uint8_t*>(bytes.data()), bytes.size()) != LIBRAW_SUCCESS) return std::nullopt;
    if (raw->unpack() != LIBRAW_SUCCESS || raw->dcraw_process() != LIBRAW_SUCCESS) return std::nullopt;
    int error = 0;
    libraw_processed_image_t* processed = raw->dcraw_make_mem_image(&error);
    if (!processed) return std::nullopt;
    Image image;
    if (processed->type == LIBRAW_IMAGE_BITMAP && (processed->colors == 1 || processed->colors == 3) &&
        (processed->bits == 8 || processed->bits == 16)) {
        const int type = CV_MAKETYPE(processed->bits == 16 ? CV_16U : CV_8U, processed->colors);
        const cv::Mat stored(processed->height, processed->width, type, processed->data);
        cv::cvtColor(stored, image.pixels, processed->colors == 3 ? cv::COLOR_RGB2RGBA : cv::COLOR_GRAY2RGBA);
    }
    LibRaw::dcraw_clear_mem(processed);
    if (image.pixels.empty()) return std::nullopt;
    if (auto metadata = readExiv2Metadata(bytes)) {
        image.metadata = std::move(*metadata);
        image.metadata.icc.clear(); // LibRaw already rendered sRGB
    }
    return image;
}

std::optional<Image> decodeExr(Bytes bytes) {
    try {
        MemoryStream stream(bytes);
        Imf::RgbaInputFile file(stream, 1);
        const Imath::Box2i window = file.dataWindow();
        const int width = window.max.x - window.min.x + 1;
        const int height = window.max.y - window.min.y + 1;
        if (width <= 0 || height <= 0) return std::nullopt;
        Imf::Array2D<Imf::Rgba> halfs(height, width);
        file.setFrameBuffer(&halfs[0][0] - window.min.x - static_cast<std::ptrdiff_t>(window.min.y) * width, 1,
                            static_cast<std::size_t>(width));
        file.readPixels(window.min.y, window.max.y);
        Image image;
        image.pixels.create(height, width, CV_32FC4);
        for (int y = 0; y < height; ++y) {
            auto* row = image.pixels.ptr<cv::Vec4f>(y);
            for (int x = 0; x < width; ++x) {
                const Imf::Rgba& p = halfs[y][x];
                row[x] = {static_cast<float>(p.r), static_cast<float>(p.g), static_cast<float>(p.b), static_cast<float>(p.a)};
            }
        }
        return image;
    } catch (const DamagedData&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        // OpenEXR rewraps what the stream threw, the short read included.
        const std::string text = e.what();
        if (text.find(DamagedData::kCutShort) != std::string::npos)
            throw DamagedData::cutShort();
        throw DamagedData(text.substr(0, text.find('\n')));
    }
}

} // namespace image::detail
