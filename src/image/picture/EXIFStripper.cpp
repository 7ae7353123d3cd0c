#include "image/picture/EXIFStripper.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include <exiv2/exiv2.hpp>

#include "core/Files.h"
#include "image/picture/CodecSupport.h"
#include "image/picture/ImageCodecs.h"
#include "image/picture/ImageEncoders.h"

namespace image {

namespace {

using Option = EXIFStripper::StripOption;
using detail::FileKind;

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

template <typename Data, typename Predicate>
void eraseWhere(Data& data, Predicate remove) {
    for (auto it = data.begin(); it != data.end();) {
        if (remove(*it))
            it = data.erase(it);
        else
            ++it;
    }
}

bool isGPS(const Exiv2::Exifdatum& datum) {
    return datum.groupName() == "GPSInfo" || datum.key() == "Exif.Image.GPSTag";
}
bool isGPS(const Exiv2::Xmpdatum& datum) {
    return datum.groupName() == "exif" && startsWith(datum.tagName(), "GPS");
}

void eraseGPS(Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
    eraseWhere(exif, [](const Exiv2::Exifdatum& d) { return isGPS(d); });
    eraseWhere(xmp, [](const Exiv2::Xmpdatum& d) { return isGPS(d); });
}

std::optional<long> integerOf(const Exiv2::Value& value) {
    if (value.count() < 1) return std::nullopt;
    const long number = value.toLong(0);
    if (!value.ok()) return std::nullopt;
    return number;
}

bool writable(const Exiv2::Image& file, Exiv2::MetadataId kind) {
    const Exiv2::AccessMode mode = Exiv2::ImageFactory::checkMode(file.imageType(), kind);
    return mode == Exiv2::amWrite || mode == Exiv2::amReadWrite;
}

// Whether Exiv2 can write every block this option changes. It opens HEIC
// files (as BMFF or QuickTime) but only reads them: their "rewrite" would
// change nothing.
bool canRewrite(Exiv2::Image& file, Option option) {
    if (file.imageType() == Exiv2::ImageType::bmff) return false;
    if (!writable(file, Exiv2::mdExif)) return false;
    if (!file.xmpData().empty() && !writable(file, Exiv2::mdXmp)) return false;
    if (option != Option::stripGPSOnly && !file.iptcData().empty() && !writable(file, Exiv2::mdIptc)) return false;
    return true;
}

// The metadata rewritten in place by Exiv2, the compressed picture copied
// byte for byte. Nothing when Exiv2 can't rewrite this type (HEIC) or the
// rewrite fails.
std::optional<std::vector<std::uint8_t>> rewrittenMetadata(const std::vector<std::uint8_t>& bytes, Option option) {
    try {
        const auto xmp = detail::lockXmpToolkit();
        auto file = detail::readWithExiv2(detail::Bytes(bytes.data(), bytes.size()));
        if (!file.get()) return std::nullopt;
        if (!canRewrite(*file, option)) return std::nullopt;
        // clearMetadata() drops the colour profile with the rest; it is
        // part of the picture and goes back in.
        std::optional<Exiv2::DataBuf> icc;
        if (file->iccProfileDefined()) icc.emplace(file->iccProfile()->pData_, file->iccProfile()->size_);

        switch (option) {
        case Option::stripGPSOnly:
            eraseGPS(file->exifData(), file->xmpData());
            break;
        case Option::stripAllExifExceptOrientation: {
            const ImageMetadata source{file->exifData(), file->iptcData(), file->xmpData(), {}};
            ImageMetadata kept;
            EXIFStripper::keepEssentials(source, kept);
            file->clearMetadata();
            file->setExifData(kept.exif);
            break;
        }
        case Option::stripEverything:
            file->clearMetadata();
            break;
        }
        if (icc && !file->iccProfileDefined()) file->setIccProfile(*icc, false);
        file->writeMetadata();

        Exiv2::BasicIo& io = file->io();
        if (io.open() != 0) return std::nullopt;
        io.seek(0, Exiv2::BasicIo::beg);
        std::vector<std::uint8_t> out(io.size());
        const long read = io.read(out.data(), static_cast<long>(out.size()));
        io.close();
        if (read != static_cast<long>(out.size())) return std::nullopt;
        return out;
    } catch (const Exiv2::AnyError&) {
        return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// What the re-encode keeps: the GPS data always goes; the other options
// also drop the EXIF, TIFF, maker-note and IPTC blocks and their XMP
// mirrors, all but the orientation, which stripEverything drops too.
ImageMetadata reencodedMetadata(ImageMetadata metadata, Option option, bool pixelsTurnedUpright) {
    eraseGPS(metadata.exif, metadata.xmp);
    if (option != Option::stripGPSOnly) {
        const bool keepOrientation = option == Option::stripAllExifExceptOrientation;
        eraseWhere(metadata.exif, [&](const Exiv2::Exifdatum& d) {
            return !(keepOrientation && d.key() == "Exif.Image.Orientation");
        });
        eraseWhere(metadata.xmp, [&](const Exiv2::Xmpdatum& d) {
            const std::string group = d.groupName();
            if (keepOrientation && d.key() == "Xmp.tiff.Orientation") return false;
            return group == "exif" || group == "exifEX" || group == "aux" || group == "tiff";
        });
        metadata.iptc.clear();
    }
    if (pixelsTurnedUpright) {
        // The decoder has applied the stored turn; what is stored now is upright.
        if (metadata.exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation")) != metadata.exif.end())
            metadata.exif["Exif.Image.Orientation"] = std::uint16_t{1};
        if (metadata.xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation")) != metadata.xmp.end())
            metadata.xmp["Xmp.tiff.Orientation"] = "1";
    }
    return metadata;
}

std::vector<std::uint8_t> withMetadata(std::vector<std::uint8_t> encoded, const ImageMetadata& metadata) {
    if (metadata.empty()) return encoded;
    return detail::embedMetadata(encoded, metadata);
}

// Decodes the picture and encodes it again in its own type. A source that
// doesn't decode is named with the reason, before the destination is.
std::vector<std::uint8_t> reencoded(const std::vector<std::uint8_t>& bytes, FileKind kind, Option option,
                                    double quality, const std::filesystem::path& from, const std::filesystem::path& to) {
    // A HEIC's turn lives in the container, which the encoder doesn't
    // write: its pixels are stored upright instead, unless the orientation
    // is to go.
    DecodeOptions decodeOptions;
    decodeOptions.upright = kind == FileKind::heif && option != Option::stripEverything;
    decodeOptions.toSRGB = false;
    decodeOptions.readMetadata = true;
    std::optional<Image> decoded;
    try {
        decoded = loadImageData(bytes, from, decodeOptions);
    } catch (const ImageReadError& e) {
        throw EXIFStripper::EXIFError::cannotDecodeImageSource(from, e.reason());
    }
    const bool encodable = kind == FileKind::jpeg || kind == FileKind::png || kind == FileKind::tiff ||
                           (kind == FileKind::heif && detail::canEncodeHeif());
    if (!encodable) throw EXIFStripper::EXIFError::cannotCreateImageDestination(to);
    const ImageMetadata metadata = reencodedMetadata(decoded->metadata, option, decodeOptions.upright);
    const double q = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 0.9;
    try {
        switch (kind) {
        case FileKind::jpeg: return withMetadata(detail::encodeJpeg(decoded->pixels, q), metadata);
        case FileKind::png: return withMetadata(detail::encodeWithOpenCV(decoded->pixels, ".png"), metadata);
        case FileKind::tiff: return withMetadata(detail::encodeWithOpenCV(decoded->pixels, ".tiff"), metadata);
        default: return detail::encodeHeif(decoded->pixels, q, metadata);
        }
    } catch (const std::exception&) {
        throw EXIFStripper::EXIFError::failedToWriteImage(to);
    }
}

} // namespace

EXIFStripper::EXIFError EXIFStripper::EXIFError::cannotOpenImageSource(const std::filesystem::path& source) {
    return {Kind::cannotOpenImageSource, "Cannot open image source at " + source.string(), source};
}
EXIFStripper::EXIFError EXIFStripper::EXIFError::cannotDecodeImageSource(const std::filesystem::path& source,
                                                                        const std::string& reason) {
    return {Kind::cannotOpenImageSource, "Cannot open image source at " + source.string() + ": " + reason, source};
}
EXIFStripper::EXIFError EXIFStripper::EXIFError::unsupportedImageType(const std::filesystem::path& source) {
    return {Kind::unsupportedImageType, "Unsupported image type for " + source.filename().string(), source};
}
EXIFStripper::EXIFError EXIFStripper::EXIFError::cannotCreateImageDestination(const std::filesystem::path& destination) {
    return {Kind::cannotCreateImageDestination, "Cannot create image destination at " + destination.string(), destination};
}
EXIFStripper::EXIFError EXIFStripper::EXIFError::failedToWriteImage(const std::filesystem::path& destination) {
    return {Kind::failedToWriteImage, "Failed to finalize and write image to " + destination.string(), destination};
}
EXIFStripper::EXIFError EXIFStripper::EXIFError::failedToWriteImage(const std::filesystem::path& destination,
                                                                   const std::string& reason) {
    if (reason.empty()) return failedToWriteImage(destination);
    return {Kind::failedToWriteImage, "Failed to finalize and write image to " + destination.string() + ": " + reason,
            destination};
}

void EXIFStripper::keepEssentials(const ImageMetadata& from, ImageMetadata& into) {
    detail::startExiv2();
    std::optional<long> orientation;
    const auto exifOrientation = from.exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (exifOrientation != from.exif.end()) orientation = integerOf(exifOrientation->value());
    if (!orientation) {
        const auto xmpOrientation = from.xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
        if (xmpOrientation != from.xmp.end()) orientation = integerOf(xmpOrientation->value());
    }
    if (orientation && *orientation >= 0 && *orientation <= 0xFFFF)
        into.exif["Exif.Image.Orientation"] = static_cast<std::uint16_t>(*orientation);

    for (const char* name : {"Exif.Image.Copyright", "Exif.Image.Artist"}) {
        const Exiv2::ExifKey key(name);
        const auto found = from.exif.findKey(key);
        if (found == from.exif.end() || found->typeId() != Exiv2::asciiString) continue;
        eraseWhere(into.exif, [&](const Exiv2::Exifdatum& d) { return d.key() == name; });
        into.exif.add(key, &found->value());
    }
}

void EXIFStripper::stripMetadata(const std::filesystem::path& from, const std::filesystem::path& to,
                                 StripOption option, double compressionQuality) const {
    detail::startExiv2();
    std::vector<std::uint8_t> bytes;
    try {
        const std::string contents = core::readFile(from);
        bytes.assign(contents.begin(), contents.end());
    } catch (const std::exception&) {
        throw EXIFError::cannotOpenImageSource(from);
    }
    if (bytes.empty()) throw EXIFError::cannotOpenImageSource(from);
    const detail::Bytes view(bytes.data(), bytes.size());
    const FileKind kind = detail::sniff(view);
    if (kind == FileKind::unknown) throw EXIFError::unsupportedImageType(from);

    std::optional<std::vector<std::uint8_t>> result;
    if (kind != FileKind::heif) result = rewrittenMetadata(bytes, option);
    if (result) {
        // A rewrite that no longer reads as the same picture is not used.
        const auto before = detail::headerPixelSize(view, kind);
        const auto after = detail::headerPixelSize(detail::Bytes(result->data(), result->size()), detail::sniff(*result));
        if (before && before != after) result.reset();
    }
    if (!result) result = reencoded(bytes, kind, option, compressionQuality, from, to);

    try {
        core::writeFileAtomically(to, std::string_view(reinterpret_cast<const char*>(result->data()), result->size()));
    } catch (const core::FileError& e) {
        // The system's reason ("No space left on device") stays with the text.
        throw EXIFError::failedToWriteImage(to, e.reason());
    } catch (const std::exception&) {
        throw EXIFError::failedToWriteImage(to);
    }
}

bool EXIFStripper::containsGPS(const std::filesystem::path& url) const {
    try {
        const auto metadata = readMetadata(url);
        if (!metadata) return false;
        for (const auto& datum : metadata->exif)
            if (isGPS(datum)) return true;
        for (const auto& datum : metadata->xmp)
            if (isGPS(datum)) return true;
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace image
