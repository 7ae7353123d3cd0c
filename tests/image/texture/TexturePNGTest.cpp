#include <gtest/gtest.h>

#include <fmt/format.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "image/texture/PackedTexture.h"
#include "support/TestSupport.h"

namespace {

using image::Image;
using image::PackedTexture;

struct EncodeCase {
    int width;
    int height;
    int type;
};

void PrintTo(const EncodeCase& c, std::ostream* os) {
    *os << fmt::format("{}x{} {}", c.width, c.height, cv::typeToString(c.type));
}

class TexturePNGRoundTrip : public ::testing::TestWithParam<EncodeCase> {};

// Written through the stripe encoder, read back by libpng (through OpenCV).
TEST_P(TexturePNGRoundTrip, ReadsBackExactly) {
    testsupport::TempDir dir;
    const auto [w, h, type] = GetParam();
    Image picture;
    picture.pixels = cv::Mat(h, w, type);
    cv::RNG rng(7);
    rng.fill(picture.pixels, cv::RNG::UNIFORM, 0, CV_MAT_DEPTH(type) == CV_16U ? 65536 : 256);
    // Smooth areas too, so every filter gets chosen somewhere.
    picture.pixels(cv::Rect(0, 0, w / 2, h / 2)).setTo(cv::Scalar::all(CV_MAT_DEPTH(type) == CV_16U ? 40000 : 99));
    const auto file = dir / "round.png";
    PackedTexture::writePNG(picture, file);
    cv::Mat back = cv::imread(file.string(), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(back.empty());
    cv::Mat expected = picture.pixels;
    if (picture.pixels.channels() == 4) cv::cvtColor(picture.pixels, expected, cv::COLOR_RGBA2BGRA);
    if (picture.pixels.channels() == 3) cv::cvtColor(picture.pixels, expected, cv::COLOR_RGB2BGR);
    ASSERT_EQ(back.type(), expected.type());
    ASSERT_EQ(back.size(), expected.size());
    EXPECT_EQ(cv::norm(back, expected, cv::NORM_INF), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Shapes, TexturePNGRoundTrip,
                         ::testing::Values(EncodeCase{1, 1, CV_8UC4}, EncodeCase{1000, 700, CV_8UC4},
                                           EncodeCase{333, 517, CV_16UC4}, EncodeCase{257, 3000, CV_8UC1},
                                           EncodeCase{64, 64, CV_8UC3}, EncodeCase{5000, 3, CV_16UC1}));

TEST(TexturePNG, UnsupportedPicturesAreRefused) {
    testsupport::TempDir dir;
    Image floats;
    floats.pixels = cv::Mat(4, 4, CV_32FC4, cv::Scalar::all(0.5));
    EXPECT_THROW(PackedTexture::writePNG(floats, dir / "f.png"), image::PackingError);
    EXPECT_THROW(PackedTexture::writePNG(Image{}, dir / "e.png"), image::PackingError);
    EXPECT_FALSE(std::filesystem::exists(dir / "f.png"));
}

} // namespace
