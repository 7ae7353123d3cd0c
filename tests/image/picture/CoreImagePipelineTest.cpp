#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <sys/inotify.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "CoreImageFixtures.h"
#include "core/Error.h"
#include "core/Files.h"
#include "image/picture/CoreImagePipeline.h"
#include "image/picture/EXIFStripper.h"
#include "image/picture/ImageCodecs.h"
#include "support/BrokenFiles.h"
#include "support/TestSupport.h"

using image::CoreImagePipeline;
namespace fs = std::filesystem;

namespace {

const CoreImagePipeline& pipeline() { return CoreImagePipeline::shared(); }

std::string magicOf(const fs::path& path) {
    const auto bytes = coretest::fileBytes(path);
    auto has = [&](const char* magic, std::size_t at = 0) {
        const std::size_t n = std::strlen(magic);
        return bytes.size() >= at + n && std::memcmp(bytes.data() + at, magic, n) == 0;
    };
    if (has("\xFF\xD8\xFF")) return "jpeg";
    if (has("\x89PNG")) return "png";
    if (has("II*") || has("MM")) return "tiff";
    if (has("ftypheic", 4) || has("ftypmif1", 4)) return "heif";
    return "other";
}

} // namespace

// The stored orientation is applied once: 6 turns the stored top-left to the
// top-right, 8 to the bottom-left; the written file says 1 in EXIF and XMP.
class JpegOrientation : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(JpegOrientation, LoadsUprightAndWritesOrientationOne) {
    const auto [orientation, expectedCorner] = GetParam();
    testsupport::TempDir dir;
    const fs::path source = dir / "turned.jpg";
    coretest::writeJpeg(source, coretest::markedPicture(64, 48));
    const fs::path thumb = dir / "thumb.jpg";
    coretest::writeJpeg(thumb, coretest::markedPicture(16, 12));
    testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-n", "-EXIF:Orientation=" + fmt::format("{}", orientation),
                          "-XMP-tiff:Orientation=" + fmt::format("{}", orientation), "-ExifImageWidth=64",
                          "-ExifImageHeight=48", "-Artist=Fixture", "-ThumbnailImage<=" + thumb.string(),
                          source.string()});

    const auto loaded = pipeline().loadImage(source);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->width(), 48);
    EXPECT_EQ(loaded->height(), 64);
    EXPECT_EQ(coretest::redCorner(loaded->pixels), expectedCorner);

    const fs::path out = dir / "out.jpg";
    pipeline().write(*loaded, out, 0.9);
    EXPECT_EQ(coretest::exifTag(out, "EXIF:Orientation"), "1");
    EXPECT_EQ(coretest::exifTag(out, "XMP:Orientation"), "1");
    EXPECT_EQ(coretest::exifTag(out, "EXIF:ExifImageWidth"), "48");
    EXPECT_EQ(coretest::exifTag(out, "EXIF:ExifImageHeight"), "64");
    EXPECT_EQ(coretest::exifTag(out, "Artist"), "Fixture");
    EXPECT_EQ(coretest::exifTag(out, "ThumbnailImage"), "");
    // Read back through the engine, nothing turns again.
    const auto again = pipeline().loadImage(out);
    ASSERT_TRUE(again);
    EXPECT_EQ(coretest::redCorner(again->pixels), expectedCorner);
}

INSTANTIATE_TEST_SUITE_P(Orientations, JpegOrientation,
                         ::testing::Values(std::make_tuple(6, 1), std::make_tuple(8, 3)));

TEST(CoreImagePipeline, TurnedHeicIsTurnedOnce) {
    testsupport::TempDir dir;
    const fs::path heic = dir / "turned.heic";
    coretest::writeTurnedHeic(heic, 64, 48, 6);
    const auto loaded = pipeline().loadImage(heic);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->width(), 48);
    EXPECT_EQ(loaded->height(), 64);
    EXPECT_EQ(coretest::redCorner(loaded->pixels), 1);
    // The EXIF block was read through libheif.
    const auto make = loaded->metadata.exif.findKey(Exiv2::ExifKey("Exif.Image.Make"));
    ASSERT_NE(make, loaded->metadata.exif.end());
    EXPECT_EQ(make->toString(), "Fixture");
}

TEST(CoreImagePipeline, CfaDngLoadsTurnedByLibRaw) {
    testsupport::TempDir dir;
    const fs::path dng = dir / "tiny.dng";
    coretest::writeCfaDng(dng, 64, 48, 6);
    const auto size = image::readPixelSize(dng);
    ASSERT_TRUE(size);
    const auto loaded = pipeline().loadImage(dng);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->width(), 48);
    EXPECT_EQ(loaded->height(), 64);
    EXPECT_EQ(loaded->pixels.type(), CV_16UC4);
}

struct ExtensionCase {
    const char* name;
    const char* magic;
};

class WriteByExtension : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(WriteByExtension, ChoosesTheWriter) {
    testsupport::TempDir dir;
    const image::Image picture{coretest::markedPicture(40, 30), {}};
    const fs::path out = dir.path() / "missing" / "folder" / GetParam().name;
    pipeline().write(picture, out, 0.8);
    EXPECT_EQ(magicOf(out), GetParam().magic);
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(out.parent_path()), fs::directory_iterator{}), 1);
    const auto back = image::decodeImageFile(out);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width(), 40);
    EXPECT_EQ(back->height(), 30);
}

INSTANTIATE_TEST_SUITE_P(Table, WriteByExtension,
                         ::testing::Values(ExtensionCase{"a.JPG", "jpeg"}, ExtensionCase{"b.jpeg", "jpeg"},
                                           ExtensionCase{"c.webp", "jpeg"}, ExtensionCase{"noextension", "jpeg"},
                                           ExtensionCase{"e.PNG", "png"}, ExtensionCase{"f.Tif", "tiff"},
                                           ExtensionCase{"g.heif", "heif"}));

TEST(CoreImagePipeline, HeifAndJpegTakeTheQuality) {
    testsupport::TempDir dir;
    cv::Mat noise(256, 256, CV_8UC4);
    cv::randu(noise, cv::Scalar::all(0), cv::Scalar::all(255));
    noise.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });
    const image::Image picture{noise, {}};
    for (const char* ext : {".heif", ".jpg"}) {
        pipeline().write(picture, dir / (std::string("low") + ext), 0.2);
        pipeline().write(picture, dir / (std::string("high") + ext), 0.95);
        EXPECT_LT(fs::file_size(dir / (std::string("low") + ext)), fs::file_size(dir / (std::string("high") + ext)))
            << ext;
    }
}

TEST(CoreImagePipeline, PngKeepsSixteenBitsAndAlpha) {
    testsupport::TempDir dir;
    cv::Mat deep(20, 30, CV_16UC4, cv::Scalar(1000, 40000, 65535, 30000));
    pipeline().write({deep, {}}, dir / "deep.png", 1.0);
    const auto back = image::decodeImageFile(dir / "deep.png");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pixels.type(), CV_16UC4);
    EXPECT_EQ(back->pixels.at<cv::Vec4w>(5, 5), cv::Vec4w(1000, 40000, 65535, 30000));
}

TEST(CoreImagePipeline, WriteIntoAFileInTheWayFailsWithoutLeavingFiles) {
    testsupport::TempDir dir;
    core::writeFileAtomically(dir / "blocker", "x");
    const image::Image picture{coretest::markedPicture(8, 8), {}};
    EXPECT_THROW(pipeline().write(picture, dir / "blocker" / "out.png", 1.0), core::Error);
}

TEST(CoreImagePipeline, JpegDataCarriesGivenPropertiesUpright) {
    const image::Image picture{coretest::markedPicture(50, 20), {}};
    image::ImageMetadata properties;
    properties.exif["Exif.Image.Orientation"] = std::uint16_t{6};
    properties.exif["Exif.Photo.PixelXDimension"] = std::uint32_t{4000};
    properties.exif["Exif.Image.Copyright"] = "Someone";
    const auto bytes = pipeline().jpegData(picture, 0.85, &properties);
    ASSERT_TRUE(bytes);
    const auto back = image::decodeImageData(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width(), 50); // orientation 1: not turned on reading
    const auto& exif = back->metadata.exif;
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension"))->toLong(), 50);
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Image.Copyright"))->toString(), "Someone");
}

TEST(CoreImagePipeline, UprightPropertiesDropSizesAndThumbnail) {
    image::ImageMetadata in;
    in.exif["Exif.Image.Orientation"] = std::uint16_t{8};
    in.exif["Exif.Photo.PixelYDimension"] = std::uint32_t{3000};
    in.exif["Exif.Thumbnail.Compression"] = std::uint16_t{6};
    in.exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    in.xmp["Xmp.tiff.Orientation"] = "8";
    const auto out = CoreImagePipeline::uprightProperties(in);
    EXPECT_EQ(out.exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"))->toLong(), 1);
    EXPECT_EQ(out.xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"))->toLong(), 1);
    EXPECT_EQ(out.exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelYDimension")), out.exif.end());
    EXPECT_EQ(out.exif.findKey(Exiv2::ExifKey("Exif.Thumbnail.Compression")), out.exif.end());
    EXPECT_NE(out.exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitudeRef")), out.exif.end());
}

namespace {

// Two photos whose XMP packets name the same namespace differently (or one
// names it and the other doesn't), and the text each written copy's XMP
// must hold.
struct XmpPrefixCase {
    std::string name;
    std::string first, second; // inside rdf:Description
    std::string firstWritten, secondWritten;
};

const std::vector<XmpPrefixCase> kXmpPrefixCases{
    // Older Adobe software wrote the media-management namespace as xapMM.
    {"standard", "xmlns:xapMM='http://ns.adobe.com/xap/1.0/mm/'><xapMM:DocumentID>uuid:1</xapMM:DocumentID>",
     "xmlns:xmpMM='http://ns.adobe.com/xap/1.0/mm/'><xmpMM:DocumentID>uuid:2</xmpMM:DocumentID>", "xapMM:DocumentID",
     "xmpMM:DocumentID"},
    {"unknown to Exiv2", "xmlns:qa='http://quorvel.test/ns/rooms/'><qa:Room>kitchen</qa:Room>",
     "xmlns:qb='http://quorvel.test/ns/rooms/'><qb:Room>hall</qb:Room>", "qa:Room", "qb:Room"},
    // The second packet has no TIFF namespace; writing adds its orientation.
    {"added on writing", "xmlns:t='http://ns.adobe.com/tiff/1.0/'><t:Make>Canon</t:Make>",
     "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:format>image/jpeg</dc:format>", "t:Make", "tiff:Orientation"},
};

std::string xmpPacket(const std::string& description) {
    return "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
           "<rdf:Description rdf:about='' " +
           description + "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

} // namespace

// A photo's XMP is written with its own packet's prefixes, whatever packets
// were read before it was written: first both photos are read, then both
// written, then again the other way round, byte for byte the same.
TEST(CoreImagePipeline, EveryPhotoIsWrittenWithItsOwnXmpPrefixes) {
    testsupport::TempDir dir;
    coretest::writeJpeg(dir / "plain.jpg", coretest::markedPicture(48, 32));
    std::vector<std::pair<fs::path, std::string>> packets;
    for (std::size_t i = 0; i < kXmpPrefixCases.size(); ++i)
        for (const auto& [which, description] : {std::pair{"first", kXmpPrefixCases[i].first},
                                                 std::pair{"second", kXmpPrefixCases[i].second}}) {
            packets.emplace_back(dir / fmt::format("{}{}.jpg", which, i), xmpPacket(description));
            fs::copy_file(dir / "plain.jpg", packets.back().first);
        }
    testsupport::putXmpPackets(packets);

    for (std::size_t i = 0; i < kXmpPrefixCases.size(); ++i) {
        const auto& c = kXmpPrefixCases[i];
        SCOPED_TRACE(c.name);
        const fs::path first = dir / fmt::format("first{}.jpg", i), second = dir / fmt::format("second{}.jpg", i);
        const auto readBothThenWrite = [&](const fs::path& a, const fs::path& b, const std::string& round) {
            const auto loadedA = pipeline().loadImage(a);
            const auto loadedB = pipeline().loadImage(b);
            ASSERT_TRUE(loadedA && loadedB);
            pipeline().write(*loadedA, dir / (round + a.filename().string()), 0.9);
            pipeline().write(*loadedB, dir / (round + b.filename().string()), 0.9);
        };
        readBothThenWrite(first, second, "1_");
        readBothThenWrite(second, first, "2_");

        const fs::path firstOut = dir / ("1_" + first.filename().string());
        const fs::path secondOut = dir / ("1_" + second.filename().string());
        const std::string firstXmp = testsupport::xmpPacketOf(firstOut), secondXmp = testsupport::xmpPacketOf(secondOut);
        EXPECT_NE(firstXmp.find(c.firstWritten), std::string::npos) << firstXmp;
        EXPECT_NE(secondXmp.find(c.secondWritten), std::string::npos) << secondXmp;
        EXPECT_TRUE(coretest::fileBytes(firstOut) == coretest::fileBytes(dir / ("2_" + first.filename().string())));
        EXPECT_TRUE(coretest::fileBytes(secondOut) == coretest::fileBytes(dir / ("2_" + second.filename().string())));
    }
}

TEST(ImageCodecs, HugePngHeaderIsRefusedBeforeDecoding) {
    testsupport::TempDir dir;
    const fs::path png = dir / "huge.png";
    ASSERT_TRUE(cv::imwrite(png.string(), cv::Mat(1, 1, CV_8UC1, cv::Scalar(7))));
    auto bytes = coretest::fileBytes(png);
    for (int at : {16, 20}) { // IHDR width, height: 20000 big-endian
        bytes[static_cast<std::size_t>(at)] = 0;
        bytes[static_cast<std::size_t>(at) + 1] = 0;
        bytes[static_cast<std::size_t>(at) + 2] = 0x4E;
        bytes[static_cast<std::size_t>(at) + 3] = 0x20;
    }
    core::writeFileAtomically(png, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    EXPECT_EQ(image::readPixelSize(png), (image::PixelSize{20000, 20000}));
    EXPECT_FALSE(image::decodeImageFile(png));
    EXPECT_FALSE(pipeline().loadImage(png));
    static_assert(image::kMaxImagePixels >= std::int64_t{16384} * 16384, "16384 squared must load");
}

TEST(ImageCodecs, ReadsSizesFromHeaders) {
    testsupport::TempDir dir;
    const cv::Mat bgr(30, 70, CV_8UC3, cv::Scalar(1, 2, 3));
    for (const char* name : {"a.png", "a.jpg", "a.bmp", "a.tiff", "a.webp"}) {
        ASSERT_TRUE(cv::imwrite((dir / name).string(), bgr)) << name;
        EXPECT_EQ(image::readPixelSize(dir / name), (image::PixelSize{70, 30})) << name;
        const auto decoded = image::decodeImageFile(dir / name);
        ASSERT_TRUE(decoded) << name;
        EXPECT_EQ(decoded->pixels.type(), CV_8UC4) << name;
    }
    EXPECT_FALSE(image::readPixelSize(dir / "missing.png"));
}

namespace {

// A file that gives no picture, and what the load says about it.
struct LoadFailure {
    std::string name;
    std::function<fs::path(const fs::path& dir, const std::string& name)> make;
    std::string text;   // what(), naming the file
    std::string reason; // the part a caller puts after its own text
};

template <class Case>
std::string describe(const ::testing::TestParamInfo<Case>& info) {
    std::string id;
    for (char c : info.param.name) id += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return id;
}

class ImageLoadFailure : public ::testing::TestWithParam<LoadFailure> {};

TEST_P(ImageLoadFailure, SaysWhyAndNamesTheFile) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    const fs::path file = c.make(dir.path(), c.name);
    const long before = testsupport::peakResidentKiB();
    try {
        (void)pipeline().loadImageOrFail(file);
        FAIL() << "no error for " << c.name;
    } catch (const image::ImageReadError& e) {
        EXPECT_EQ(std::string(e.what()), c.text);
        EXPECT_EQ(e.reason(), c.reason);
    }
    EXPECT_FALSE(pipeline().loadImage(file));
    // Refused before reading: nothing near the 2 GiB that /dev/zero would give.
    if (!testsupport::kUnderSanitizer) {
        EXPECT_LT(testsupport::peakResidentKiB() - before, 64 * 1024);
    }
}

fs::path written(const fs::path& dir, const std::string& name, const std::string& bytes) {
    core::writeFileAtomically(dir / name, bytes);
    return dir / name;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ImageLoadFailure,
    ::testing::Values(
        LoadFailure{"empty.jpg", [](const fs::path& d, const std::string& n) { return written(d, n, ""); },
                    "empty.jpg is empty", "the file is empty"},
        LoadFailure{"notes.jpg",
                    [](const fs::path& d, const std::string& n) { return written(d, n, "these are no pixels"); },
                    "notes.jpg is not an image", "not an image"},
        LoadFailure{"folder.jpg",
                    [](const fs::path& d, const std::string& n) {
                        fs::create_directory(d / n);
                        return d / n;
                    },
                    "folder.jpg is not a regular file", "not a regular file"},
        LoadFailure{"dangling.jpg",
                    [](const fs::path& d, const std::string& n) {
                        fs::create_symlink(d / "gone.jpg", d / n);
                        return d / n;
                    },
                    "Could not read dangling.jpg: No such file or directory", "No such file or directory"},
        LoadFailure{"bomb.png",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::pngHeaderClaiming(d / n, 60000, 60000);
                    },
                    "bomb.png is 60000 \u00d7 60000, over the 300-megapixel limit",
                    "60000 \u00d7 60000 is over the 300-megapixel limit"},
        LoadFailure{"pipe.png", [](const fs::path& d, const std::string& n) { return testsupport::makeFifo(d / n); },
                    "pipe.png is not a regular file", "not a regular file"},
        LoadFailure{"zero.png",
                    [](const fs::path& d, const std::string& n) { return testsupport::linkToZeros(d / n); },
                    "zero.png is not a regular file", "not a regular file"},
        LoadFailure{"cut.jpg",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::cutFile(testsupport::magickPicture(d / n, 400, 300), 0.4);
                    },
                    "cut.jpg is damaged: Premature end of JPEG file",
                    "the file is damaged: Premature end of JPEG file"},
        LoadFailure{"cut.png",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::cutFile(testsupport::magickPicture(d / n, 400, 300), 0.4);
                    },
                    "cut.png is damaged: the picture data can't be decoded",
                    "the file is damaged: the picture data can't be decoded"},
        LoadFailure{"header.tga",
                    [](const fs::path& d, const std::string& n) { return testsupport::tgaHeaderOnly(d / n, 64, 64); },
                    "header.tga is damaged: the file ends before the picture does",
                    "the file is damaged: the file ends before the picture does"},
        LoadFailure{"rle.tga",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::cutFile(testsupport::magickPicture(d / n, 64, 64, {"-compress", "RLE"}), 0.5);
                    },
                    "rle.tga is damaged: the file ends before the picture does",
                    "the file is damaged: the file ends before the picture does"},
        LoadFailure{"third.psd",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::cutFile(testsupport::magickPicture(d / n, 64, 64), 1.0 / 3.0);
                    },
                    "third.psd is damaged: the file ends before the picture does",
                    "the file is damaged: the file ends before the picture does"},
        // Warnings from libjpeg count whatever the colour model and however
        // many came before: stray bytes alone lose nothing, a cut does.
        LoadFailure{"cmyk.jpg",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::cutFile(
                            testsupport::magickPicture(d / n, 400, 300, {"-colorspace", "CMYK"}), 0.4);
                    },
                    "cmyk.jpg is damaged: Premature end of JPEG file",
                    "the file is damaged: Premature end of JPEG file"},
        // A print workflow's CMYK TIFF whose compressed strip is garbled
        // part of the way in: libtiff says what it found.
        LoadFailure{"garbled.tif",
                    [](const fs::path& d, const std::string& n) {
                        const std::string profiles = "/usr/share/color/icc/ghostscript/";
                        testsupport::magickPicture(d / n, 400, 300,
                                                   {"-profile", profiles + "srgb.icc", "-profile",
                                                    profiles + "default_cmyk.icc", "-depth", "8", "-compress", "zip"});
                        std::string bytes = core::readFile(d / n);
                        std::fill(bytes.begin() + 2000, bytes.begin() + 4000, '\0');
                        return written(d, n, bytes);
                    },
                    "garbled.tif is damaged: ZIPDecode: Decoding error at scanline 0",
                    "the file is damaged: ZIPDecode: Decoding error at scanline 0"},
        LoadFailure{"stray.jpg",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::cutFile(
                            testsupport::strayBytesBeforeTables(testsupport::magickPicture(d / n, 400, 300)), 0.4);
                    },
                    "stray.jpg is damaged: Premature end of JPEG file",
                    "the file is damaged: Premature end of JPEG file"},
        // Headers claiming 17320 x 17320 at 16 bits (2.4 GB of planes) over
        // no picture data: refused before anything is allocated.
        LoadFailure{"bomb.psd",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::photoshopHeaderClaiming(d / n, 17320, 17320, 16, 0);
                    },
                    "bomb.psd is damaged: the file ends before the picture does",
                    "the file is damaged: the file ends before the picture does"},
        LoadFailure{"rle-bomb.psd",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::photoshopHeaderClaiming(d / n, 17320, 17320, 16, 1);
                    },
                    "rle-bomb.psd is damaged: the file ends before the picture does",
                    "the file is damaged: the file ends before the picture does"},
        // Valid files of a kind not read say what they are.
        LoadFailure{"twelve.jpg",
                    [](const fs::path& d, const std::string& n) { return testsupport::twelveBitJpeg(d / n); },
                    "twelve.jpg is a 12-bit JPEG; only 8-bit JPEGs are read",
                    "a 12-bit JPEG; only 8-bit JPEGs are read"},
        LoadFailure{"lossless.jpg",
                    [](const fs::path& d, const std::string& n) { return testsupport::losslessJpeg(d / n); },
                    "lossless.jpg is a lossless JPEG; only baseline and progressive JPEGs are read",
                    "a lossless JPEG; only baseline and progressive JPEGs are read"},
        LoadFailure{"hierarchical.jpg",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::withFrameMarker(testsupport::magickPicture(d / n, 32, 24), 0xC5);
                    },
                    "hierarchical.jpg is a hierarchical JPEG; only baseline and progressive JPEGs are read",
                    "a hierarchical JPEG; only baseline and progressive JPEGs are read"},
        LoadFailure{"two.jpg",
                    [](const fs::path& d, const std::string& n) {
                        coretest::writeLibjpeg(d / n, cv::Mat(24, 32, CV_8UC2, cv::Scalar(90, 200)),
                                               coretest::JpegStorage::unknown);
                        return d / n;
                    },
                    "two.jpg is a JPEG with 2 colour components; only Grayscale, RGB and CMYK JPEGs are read",
                    "a JPEG with 2 colour components; only Grayscale, RGB and CMYK JPEGs are read"},
        LoadFailure{"cmyk.psd",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::magickPicture(d / n, 64, 64, {"-colorspace", "CMYK"});
                    },
                    "cmyk.psd is a CMYK Photoshop document; only RGB and Grayscale documents are read",
                    "a CMYK Photoshop document; only RGB and Grayscale documents are read"},
        LoadFailure{"float.psd",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::photoshopWith(d / n, testsupport::PhotoshopField::depth, 32);
                    },
                    "float.psd is a 32-bit Photoshop document; only 8- and 16-bit documents are read",
                    "a 32-bit Photoshop document; only 8- and 16-bit documents are read"},
        LoadFailure{"zip.psd",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::photoshopWith(d / n, testsupport::PhotoshopField::compression, 2);
                    },
                    "zip.psd is a ZIP-compressed Photoshop document; only uncompressed and RLE-compressed documents "
                    "are read",
                    "a ZIP-compressed Photoshop document; only uncompressed and RLE-compressed documents are read"},
        LoadFailure{"large.psb",
                    [](const fs::path& d, const std::string& n) {
                        return testsupport::photoshopWith(d / n, testsupport::PhotoshopField::version, 2);
                    },
                    "large.psb is a large-format (PSB) Photoshop document; only standard (PSD) documents are read",
                    "a large-format (PSB) Photoshop document; only standard (PSD) documents are read"}),
    describe<LoadFailure>);

// A small JPEG carrying 100 MB of colour profile in 1601 chunks, past the
// 255 a JPEG can number: refused before Exiv2 (which would regrow the
// profile for every chunk, for about a minute) reads it, wherever the file
// is read.
TEST(ImageCodecs, ColourProfileLargerThanAJpegCanCarryIsRefusedUnread) {
    testsupport::TempDir dir;
    const std::string photo = core::readFile(testsupport::magickPicture(dir / "small.jpg", 40, 30));
    std::string chunk = "\xFF\xE2\xFF\xFF";
    chunk += std::string("ICC_PROFILE\0", 12);
    chunk += "\x01\xFF";
    chunk.resize(2 + 0xFFFF, '\x5A');
    std::string bytes = photo.substr(0, 2);
    for (int i = 0; i < 1601; ++i) bytes += chunk;
    bytes += photo.substr(2);
    const fs::path hostile = written(dir.path(), "profile.jpg", bytes);

    const std::string reason = "a 100 MB colour profile; profiles over 16 MB aren't read";
    try {
        (void)pipeline().loadImageOrFail(hostile);
        ADD_FAILURE() << "no error";
    } catch (const image::ImageReadError& e) {
        EXPECT_EQ(std::string(e.what()), "profile.jpg has " + reason);
        EXPECT_EQ(e.reason(), reason);
    }
    EXPECT_FALSE(image::readMetadata(hostile));
    try {
        image::EXIFStripper().stripMetadata(hostile, dir / "stripped.jpg",
                                            image::EXIFStripper::StripOption::stripGPSOnly, 0.9);
        ADD_FAILURE() << "no error from the stripper";
    } catch (const image::EXIFStripper::EXIFError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open image source at " + hostile.string() + ": " + reason);
    }
    EXPECT_FALSE(fs::exists(dir / "stripped.jpg"));
}

TEST(ImageCodecs, WholePicturesOfTheCutFormatsStillLoad) {
    // The same pictures as above, uncut: the checks don't refuse good files.
    testsupport::TempDir dir;
    for (const auto& [name, options] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"whole.jpg", {}}, {"whole.png", {}}, {"whole.tga", {"-compress", "RLE"}}, {"plain.tga", {}},
             {"whole.psd", {}}}) {
        const auto image = pipeline().loadImageOrFail(testsupport::magickPicture(dir / name, 64, 48, options));
        EXPECT_EQ(image.width(), 64) << name;
        EXPECT_EQ(image.height(), 48) << name;
    }
    // A header field out of the ordinary makes libjpeg warn, but every
    // pixel is there: stray bytes between two segments (cameras and editors
    // leave them), a JFIF 2.01 header, an Adobe marker naming an unknown
    // transform. The picture is the one the file gives without them.
    struct Oddity {
        std::string name;
        std::vector<std::string> options;
        std::function<fs::path(const fs::path&)> patch;
    };
    for (const auto& [name, options, patch] : std::vector<Oddity>{
             {"stray.jpg", {}, [](const fs::path& p) { return testsupport::strayBytesBeforeTables(p); }},
             {"jfif2.jpg", {}, [](const fs::path& p) { return testsupport::withJfifVersion(p, 2, 1); }},
             {"xform.jpg",
              {"-colorspace", "CMYK"},
              [](const fs::path& p) { return testsupport::withAdobeTransform(p, 1); }}}) {
        const fs::path plain = testsupport::magickPicture(dir / ("plain-" + name), 64, 48, options);
        fs::copy_file(plain, dir / name);
        const auto odd = pipeline().loadImageOrFail(patch(dir / name));
        const auto expected = pipeline().loadImageOrFail(plain);
        ASSERT_EQ(odd.pixels.size(), expected.pixels.size()) << name;
        EXPECT_EQ(cv::norm(odd.pixels, expected.pixels, cv::NORM_INF), 0.0) << name;
    }
}

// A TGA has no signature: it goes to stb_image alone. One whose pixels
// happen to spell "DTED" at byte 140 is what OpenCV's GDAL decoder claims,
// and OpenCV hands GDAL a copy of the data written into /tmp; the load must
// not reach it.
TEST(ImageCodecs, ATGAIsReadByStbAloneWhateverItsBytesSpell) {
    testsupport::TempDir dir;
    const fs::path tga = testsupport::magickPicture(dir / "dted.tga", 64, 48);
    std::fstream patch(tga, std::ios::in | std::ios::out | std::ios::binary);
    patch.seekp(140);
    patch.write("DTED", 4);
    patch.close();

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, "/tmp", IN_CREATE), 0);
    const auto image = pipeline().loadImageOrFail(tga);
    std::vector<std::string> created;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;)
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len > 0 && std::string_view(event->name).starts_with("__opencv_temp")) created.emplace_back(event->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    close(watch);
    EXPECT_EQ(image.width(), 64);
    EXPECT_EQ(image.height(), 48);
    EXPECT_TRUE(created.empty()) << created.front();
}

// How a JPEG's picture data is laid out: one sequential scan, progressive
// scans (jpegtran -progressive), or a restart marker after every row of
// blocks (jpegtran -restart 1).
enum class JpegLayout { baseline, progressive, restarts };

// A camera-like photo: ImageMagick's rose at 640 x 480 with sensor noise,
// in `layout`.
fs::path noisyPhoto(const fs::path& path, JpegLayout layout) {
    const fs::path made = path.parent_path() / ("made-" + path.filename().string());
    testsupport::magickPicture(made, 640, 480, {"-seed", "5", "-attenuate", "0.6", "+noise", "Gaussian"});
    if (layout == JpegLayout::baseline) {
        fs::copy_file(made, path);
    } else {
        const std::vector<std::string> option = layout == JpegLayout::progressive ? std::vector<std::string>{"-progressive"}
                                                                                  : std::vector<std::string>{"-restart", "1"};
        std::vector<std::string> argv{"jpegtran"};
        argv.insert(argv.end(), option.begin(), option.end());
        argv.insert(argv.end(), {"-outfile", path.string(), made.string()});
        testsupport::runTool(argv);
    }
    return path;
}

// Four FF 00 pairs: 32 one bits, longer than any Huffman code.
std::string allOneBits() {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += std::string("\xFF\x00", 2);
    return bytes;
}

// A JPEG changed in or around its picture data, and whether that damages
// the picture.
struct ScanChange {
    std::string name;
    JpegLayout layout;
    std::function<fs::path(const fs::path&)> change;
    bool damaged;
};

class JpegScanChange : public ::testing::TestWithParam<ScanChange> {};

// Bytes inserted into or overwritten in a scan's data fail the picture
// however the data is laid out: a scan that ends before its bytes do (stray
// bytes before the end or a restart marker), or a code that fits no
// Huffman table. Padding after the picture data and stray bytes before the
// first scan lose nothing: the picture is the clean file's.
TEST_P(JpegScanChange, DamageFailsAndPaddingLoads) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    const fs::path clean = noisyPhoto(dir / "clean.jpg", c.layout);
    fs::copy_file(clean, dir / c.name);
    const fs::path changed = c.change(dir / c.name);
    if (c.damaged) {
        try {
            (void)pipeline().loadImageOrFail(changed);
            FAIL() << "no error for " << c.name;
        } catch (const image::ImageReadError& e) {
            EXPECT_EQ(e.kind(), image::ImageReadError::Kind::damaged) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(c.name + " is damaged: Corrupt JPEG data: ", 0), 0u) << e.what();
        }
    } else {
        const auto loaded = pipeline().loadImageOrFail(changed);
        const auto expected = pipeline().loadImageOrFail(clean);
        ASSERT_EQ(loaded.pixels.size(), expected.pixels.size());
        EXPECT_EQ(cv::norm(loaded.pixels, expected.pixels, cv::NORM_INF), 0.0);
    }
}

fs::path inserted(const fs::path& p) {
    return testsupport::patchScanData(p, testsupport::ScanPatch::insert, testsupport::scrambledBytes());
}
fs::path overwritten(const fs::path& p) {
    return testsupport::patchScanData(p, testsupport::ScanPatch::overwrite, testsupport::scrambledBytes());
}
// Two bytes of padding: in this photo libjpeg's bit buffer stops short of
// them, so libjpeg tells them as stray bytes before the end marker.
fs::path paddedBeforeEnd(const fs::path& p) { return testsupport::insertBeforeMarker(p, 0xD9, std::string(2, '\0')); }

// Only a sequential scan without restart markers takes libjpeg-turbo's fast
// Huffman decoder, which passes over codes that fit no table: all one bits
// are tried there alone, at a place where the fast decoder then finds its
// way back to the end of the data with nothing to tell.
INSTANTIATE_TEST_SUITE_P(
    Files, JpegScanChange,
    ::testing::Values(
        ScanChange{"inserted.jpg", JpegLayout::baseline, inserted, true},
        ScanChange{"overwritten.jpg", JpegLayout::baseline, overwritten, true},
        ScanChange{"ones.jpg", JpegLayout::baseline,
                   [](const fs::path& p) {
                       return testsupport::patchScanData(p, testsupport::ScanPatch::overwrite, allOneBits(), 47);
                   },
                   true},
        ScanChange{"progressive-inserted.jpg", JpegLayout::progressive, inserted, true},
        ScanChange{"progressive-overwritten.jpg", JpegLayout::progressive, overwritten, true},
        ScanChange{"restart-inserted.jpg", JpegLayout::restarts, inserted, true},
        ScanChange{"restart-overwritten.jpg", JpegLayout::restarts, overwritten, true},
        ScanChange{"padded.jpg", JpegLayout::baseline, paddedBeforeEnd, false},
        ScanChange{"stray-before-scan.jpg", JpegLayout::progressive,
                   [](const fs::path& p) { return testsupport::insertBeforeMarker(p, 0xDA, "\x01\x02\x03"); }, false}),
    describe<ScanChange>);

TEST(ImageCodecs, ShortagesOfMemoryAreToldAsSuch) {
    EXPECT_TRUE(image::isOutOfMemory(std::bad_alloc()));
    EXPECT_TRUE(image::isOutOfMemory(cv::Exception(cv::Error::StsNoMem, "Failed to allocate 9 GB", "OutOfMemoryError",
                                                   "alloc.cpp", 73)));
    EXPECT_TRUE(image::isOutOfMemory(std::runtime_error("resample: render: ")));
    EXPECT_TRUE(image::isOutOfMemory(std::runtime_error("resample: render: vips_tracked: out of memory\n")));
    EXPECT_FALSE(image::isOutOfMemory(cv::Exception(cv::Error::StsBadArg, "bad", "f", "x.cpp", 1)));
    EXPECT_FALSE(image::isOutOfMemory(std::runtime_error("resample: crop: bad area")));

    testsupport::TempDir dir;
    const fs::path photo = testsupport::magickPicture(dir / "photo.jpg", 640, 480);
    const auto thrown = [&](const std::function<void()>& fail) -> std::string {
        try {
            try {
                fail();
            } catch (...) {
                image::rethrowNamingMemory(photo);
            }
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no error";
    };
    const std::string expected = "Not enough memory to process photo.jpg (640 \u00d7 480)";
    EXPECT_EQ(thrown([] { throw std::bad_alloc(); }), expected);
    EXPECT_EQ(thrown([] { throw cv::Exception(cv::Error::StsNoMem, "Insufficient memory", "f", "alloc.cpp", 73); }),
              expected);
    EXPECT_EQ(thrown([] { throw std::runtime_error("resample: render: "); }), expected);
    // Anything else passes unchanged.
    EXPECT_EQ(thrown([] { throw std::runtime_error("Could not write x: Read-only file system"); }),
              "Could not write x: Read-only file system");
}

} // namespace
