#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "SpriteTestFrames.h"
#include "image/sprite/RGBAImage.h"

using image::RGBAImage;
using image::SpriteRect;
using spritetest::makeFrame;
using spritetest::Pixel;
using spritetest::pixelAt;

namespace {

image::Image imageOf(const RGBAImage& f) {
    image::Image img;
    img.pixels = f.toMat();
    return img;
}

} // namespace

struct ScaleCase {
    int w, h;
    double scale;
    int ew, eh;
};
class RGBAImageScale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(RGBAImageScale, RoundsHalvesAwayAndKeepsAtLeastOnePixel) {
    const auto c = GetParam();
    const auto src = makeFrame(c.w, c.h, [](int x, int y) { return Pixel{static_cast<std::uint8_t>(x * 40), static_cast<std::uint8_t>(y * 40), 9, 255}; });
    const auto out = RGBAImage::make(imageOf(src), c.scale);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->width, c.ew);
    EXPECT_EQ(out->height, c.eh);
    EXPECT_EQ(out->pixels.size(), static_cast<std::size_t>(c.ew * c.eh * 4));
}

INSTANTIATE_TEST_SUITE_P(Cases, RGBAImageScale,
                         ::testing::Values(ScaleCase{3, 3, 0.5, 2, 2}, ScaleCase{3, 3, 0.1, 1, 1}, ScaleCase{5, 2, 1.0, 5, 2},
                                           ScaleCase{4, 6, 2.0, 8, 12}, ScaleCase{5, 3, 0.5, 3, 2}));

TEST(RGBAImage, UnusableScalesGiveNothing) {
    const auto src = makeFrame(4, 4, [](int, int) { return Pixel{1, 2, 3, 255}; });
    EXPECT_FALSE(RGBAImage::make(imageOf(src), std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(RGBAImage::make(imageOf(src), std::nan("")));
    EXPECT_FALSE(RGBAImage::make(imageOf(src), 1e9));
    EXPECT_FALSE(RGBAImage::make(image::Image{}, 1.0));
}

TEST(RGBAImage, ScaleOneKeepsTheBytesStraight) {
    // Semi-transparent colour must come back unchanged (no premultiplied
    // round trip), and the colour under alpha 0 too.
    const auto src = makeFrame(3, 2, [](int x, int y) { return Pixel{200, static_cast<std::uint8_t>(x * 50), 7, static_cast<std::uint8_t>(y == 0 ? 3 : 0)}; });
    const auto out = RGBAImage::make(imageOf(src), 1.0);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, src);
}

TEST(RGBAImage, ScalingIsPremultiplied) {
    // Opaque red beside fully transparent green: no green may bleed into the
    // visible pixels of the half-size picture.
    const auto src = makeFrame(8, 8, [](int x, int) { return x < 4 ? Pixel{255, 0, 0, 255} : Pixel{0, 255, 0, 0}; });
    const auto out = RGBAImage::make(imageOf(src), 0.5);
    ASSERT_TRUE(out);
    for (int y = 0; y < out->height; ++y)
        for (int x = 0; x < out->width; ++x) {
            const Pixel p = pixelAt(*out, x, y);
            if (p.a > 16) {
                EXPECT_GE(p.r, 240) << x << "," << y;
                EXPECT_LE(p.g, 8) << x << "," << y;
            }
        }
}

TEST(RGBAImage, SixteenBitAndFloatPicturesBecomeEightBit) {
    image::Image deep;
    deep.pixels = cv::Mat(2, 2, CV_16UC4, cv::Scalar(65535, 32896, 0, 65535));
    auto out = RGBAImage::make(deep, 1.0);
    ASSERT_TRUE(out);
    EXPECT_EQ(pixelAt(*out, 1, 1).r, 255);
    EXPECT_EQ(pixelAt(*out, 1, 1).g, 128);
    image::Image flt;
    flt.pixels = cv::Mat(1, 1, CV_32FC4, cv::Scalar(1.0, 0.5, 2.0, 1.0));
    out = RGBAImage::make(flt, 1.0);
    ASSERT_TRUE(out);
    EXPECT_EQ(pixelAt(*out, 0, 0).g, 128);
    EXPECT_EQ(pixelAt(*out, 0, 0).b, 255);
}

TEST(RGBAImage, OpaqueBoundsCountTheFaintestAlpha) {
    const auto one = makeFrame(10, 10, [](int x, int y) { return Pixel{9, 9, 9, static_cast<std::uint8_t>(x == 5 && y == 7 ? 1 : 0)}; });
    EXPECT_EQ(one.opaqueBounds(), (SpriteRect{5, 7, 1, 1}));
    const auto none = makeFrame(10, 10, [](int, int) { return Pixel{255, 255, 255, 0}; });
    EXPECT_FALSE(none.opaqueBounds());
    EXPECT_FALSE(RGBAImage{}.opaqueBounds());
    const auto spread = makeFrame(16, 20, [](int x, int y) { return Pixel{0, 0, 0, static_cast<std::uint8_t>((x == 2 && y == 9) || (x == 11 && y == 4) || (x == 6 && y == 15) ? 200 : 0)}; });
    EXPECT_EQ(spread.opaqueBounds(), (SpriteRect{2, 4, 10, 12}));
}

TEST(RGBAImage, CroppedCopiesRowsAndColumns) {
    const auto src = makeFrame(6, 5, [](int x, int y) { return Pixel{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 0, 255}; });
    const auto part = src.cropped({2, 1, 3, 2});
    ASSERT_EQ(part.width, 3);
    ASSERT_EQ(part.height, 2);
    EXPECT_EQ(pixelAt(part, 0, 0).r, 2);
    EXPECT_EQ(pixelAt(part, 0, 0).g, 1);
    EXPECT_EQ(pixelAt(part, 2, 1).r, 4);
    EXPECT_EQ(pixelAt(part, 2, 1).g, 2);
}

TEST(RGBAImage, RotatedClockwisePutsTheLeftPixelOnTop) {
    const auto ab = makeFrame(2, 1, [](int x, int) { return x == 0 ? Pixel{1, 2, 3, 4} : Pixel{5, 6, 7, 8}; });
    const auto turned = ab.rotatedClockwise();
    ASSERT_EQ(turned.width, 1);
    ASSERT_EQ(turned.height, 2);
    EXPECT_EQ(pixelAt(turned, 0, 0).r, 1);
    EXPECT_EQ(pixelAt(turned, 0, 1).r, 5);
    // A 3 x 2 picture: the bottom-left pixel goes to the top-left.
    const auto src = makeFrame(3, 2, [](int x, int y) { return Pixel{static_cast<std::uint8_t>(10 * y + x), 0, 0, 255}; });
    const auto r = src.rotatedClockwise();
    ASSERT_EQ(r.width, 2);
    ASSERT_EQ(r.height, 3);
    EXPECT_EQ(pixelAt(r, 0, 0).r, 10);
    EXPECT_EQ(pixelAt(r, 1, 0).r, 0);
    EXPECT_EQ(pixelAt(r, 0, 2).r, 12);
    EXPECT_EQ(r.rotatedClockwise().rotatedClockwise().rotatedClockwise().rotatedClockwise(), r);
}
