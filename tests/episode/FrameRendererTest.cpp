#include "episode/FrameRenderer.h"

#include <fstream>

#include <cctype>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

using episode::BGRAImage;
using episode::CaptionCue;
using episode::CaptionWord;
using episode::FrameRenderer;
using episode::RGBColor;

constexpr RGBColor kBlue{0x3B / 255.0, 0x82 / 255.0, 0xF6 / 255.0};

struct ColorCase {
    std::string text;
    RGBColor expected;
};
void PrintTo(const ColorCase& c, std::ostream* os) { std::string name = "text_";
    for (unsigned char ch : std::string(c.text)) name += std::isalnum(ch) ? static_cast<char>(ch) : '_';
    *os << name;
}

class FrameRendererColor : public testing::TestWithParam<ColorCase> {};

TEST_P(FrameRendererColor, ReadsHexText) { EXPECT_EQ(FrameRenderer::parseColor(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Texts, FrameRendererColor,
    testing::Values(ColorCase{"#3B82F6", kBlue}, ColorCase{"3b82f6", kBlue}, ColorCase{" \t#3B82F6\t ", kBlue},
                    ColorCase{"#FF3B82F6", kBlue},   // alpha-red-green-blue: alpha dropped
                    ColorCase{"#FF0000", {1, 0, 0}}, ColorCase{"00ff00", {0, 1, 0}},
                    ColorCase{"", kBlue}, ColorCase{"#", kBlue}, ColorCase{"#3B82G6", kBlue},
                    ColorCase{"#123456789", kBlue},  // more than 32 bits
                    ColorCase{"\n#FF0000", kBlue},   // line breaks are not trimmed
                    ColorCase{"##FF0000", kBlue}, ColorCase{"+FF0000", kBlue}, ColorCase{"0x10", kBlue}));

TEST(FrameRenderer, BarLevelsLookBackTwoFramesPerStep) {
    const std::vector<float> env{0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 1.0f, 0.05f};
    for (int bar = 0; bar < 41; ++bar) EXPECT_EQ(FrameRenderer::barLevel(env, bar, 0), 0.1f) << bar;
    EXPECT_EQ(FrameRenderer::barLevel(env, 20, 10), 0.05f);
    EXPECT_EQ(FrameRenderer::barLevel(env, 19, 10), 0.9f);
    EXPECT_EQ(FrameRenderer::barLevel(env, 21, 10), 0.9f);
    EXPECT_EQ(FrameRenderer::barLevel(env, 15, 10), 0.1f); // k = 0
    EXPECT_EQ(FrameRenderer::barLevel(env, 0, 10), 0.1f);  // k < 0: the first level
    EXPECT_EQ(FrameRenderer::barLevel(env, 20, 11), 0.0f); // beyond the envelope
    EXPECT_EQ(FrameRenderer::barLevel({}, 20, 0), 0.0f);
}

std::vector<CaptionCue> twoCues() {
    return {CaptionCue{{{"Hello", 2.0, 2.2}, {"there", 2.3, 2.5}}}, CaptionCue{{{"Next", 2.9, 3.2}}},
            CaptionCue{{{"Late", 6.0, 6.5}}}};
}

TEST(FrameRenderer, CueSwitchesEarlyAndLingers) {
    FrameRenderer r(200, 200, kBlue, nullptr, twoCues(), std::nullopt, 100);
    EXPECT_EQ(r.visibleCue(194), std::nullopt); // t = 1.94
    EXPECT_EQ(r.visibleCue(195), 0u);           // t = 1.95: 0.05 s early
    EXPECT_EQ(r.visibleCue(284), 0u);
    EXPECT_EQ(r.visibleCue(285), 1u);           // the next cue takes over before 0.6 s passed
    EXPECT_EQ(r.visibleCue(379), 1u);           // 3.79 < 3.2 + 0.6
    EXPECT_EQ(r.visibleCue(381), std::nullopt); // expired; the earlier cue is not considered
    EXPECT_EQ(r.visibleCue(595), 2u);
}

// A frame drawn into memory, read back as 8-bit colours.
class Drawn {
public:
    Drawn(const FrameRenderer& r, const std::vector<float>& env, int n, int total)
        : w_(r.width()), h_(r.height()), pixels_(static_cast<std::size_t>(w_) * h_ * 4, 0xAB) {
        r.draw(pixels_.data(), w_ * 4, env, n, total);
    }
    // y measured from the top.
    RGBColor at(double fx, double fy) const {
        const int x = std::clamp(static_cast<int>(fx), 0, w_ - 1), y = std::clamp(static_cast<int>(fy), 0, h_ - 1);
        const auto* p = &pixels_[(static_cast<std::size_t>(y) * w_ + x) * 4];
        return {p[2] / 255.0, p[1] / 255.0, p[0] / 255.0};
    }
    int countBright(double y0, double y1) const {
        int n = 0;
        for (int y = static_cast<int>(y0); y < static_cast<int>(y1); ++y)
            for (int x = 0; x < w_; ++x)
                if (at(x, y).red > 0.6 && at(x, y).green > 0.6) ++n;
        return n;
    }
    // Rows y0 to y1 (from the top) as raw bytes.
    std::vector<std::uint8_t> band(double y0, double y1) const {
        return {pixels_.begin() + static_cast<std::ptrdiff_t>(y0) * w_ * 4,
                pixels_.begin() + static_cast<std::ptrdiff_t>(y1) * w_ * 4};
    }

private:
    int w_, h_;
    std::vector<std::uint8_t> pixels_;
};

void expectColor(const RGBColor& got, const RGBColor& want, double tol = 2.5 / 255) {
    EXPECT_NEAR(got.red, want.red, tol);
    EXPECT_NEAR(got.green, want.green, tol);
    EXPECT_NEAR(got.blue, want.blue, tol);
}

constexpr RGBColor kBackground{17 / 255.0, 17 / 255.0, 22 / 255.0};

TEST(FrameRenderer, PlainFrameLayout) {
    const double W = 1000, H = 600;
    FrameRenderer r(1000, 600, kBlue, nullptr, {}, std::nullopt, 30);
    const Drawn silent(r, {0.0f}, 0, 10);
    expectColor(silent.at(5, 5), kBackground);
    // Middle bar at the centre; a silent bar is a dot b wide and high.
    const double b = (0.86 * W - 40 * 0.006 * W) / 41;
    expectColor(silent.at(W / 2, H / 2), kBlue);
    expectColor(silent.at(W / 2, H / 2 - b), kBackground);
    // Full level: the middle bar reaches 0.30 H, bar 0 is scaled by 21/41.
    const Drawn loud(r, {1.0f}, 0, 10);
    expectColor(loud.at(W / 2, H / 2 - 0.14 * H), kBlue);
    expectColor(loud.at(W / 2, H / 2 - 0.16 * H), kBackground);
    expectColor(loud.at(0.07 * W + b / 2, H / 2 - 0.07 * H), kBlue);
    expectColor(loud.at(0.07 * W + b / 2, H / 2 - 0.09 * H), kBackground);
    // Progress: 1/10 filled on the first frame, the track beyond it.
    const double barY = H - 0.08 * H - 3;
    const RGBColor track{(17 + 0.18 * (255 - 17)) / 255.0, (17 + 0.18 * (255 - 17)) / 255.0,
                         (22 + 0.18 * (255 - 22)) / 255.0};
    expectColor(loud.at(0.07 * W + 0.086 * W - 2, barY), kBlue);
    expectColor(loud.at(0.07 * W + 0.086 * W + 2, barY), track);
    const Drawn last(r, {1.0f}, 9, 10);
    expectColor(last.at(0.93 * W - 2, barY), kBlue);
    EXPECT_EQ(silent.countBright(0, H), 0); // no title, no captions
}

TEST(FrameRenderer, CaptionsMoveTheBarsUpAndShowOnlyDuringTheirWords) {
    const double W = 1080, H = 1080;
    FrameRenderer r(1080, 1080, kBlue, nullptr, twoCues(), std::nullopt, 10);
    const std::vector<float> loud(100, 1.0f);
    const Drawn before(r, loud, 10, 100); // t = 1.0: no cue yet
    const Drawn during(r, loud, 21, 100); // t = 2.1: "Hello" is the current word
    const Drawn gap(r, loud, 40, 100);    // t = 4.0: expired
    // Bars centred at 0.56 H from the bottom, up to 0.24 H high.
    expectColor(before.at(W / 2, 0.44 * H - 0.11 * H), kBlue);
    expectColor(before.at(W / 2, 0.44 * H - 0.13 * H), kBackground);
    EXPECT_EQ(before.countBright(0.6 * H, 0.9 * H), 0);
    EXPECT_EQ(gap.countBright(0.6 * H, 0.9 * H), 0);
    EXPECT_EQ(before.band(0.6 * H, 0.9 * H), gap.band(0.6 * H, 0.9 * H)); // no backdrop either
    EXPECT_GT(during.countBright(0.70 * H, 0.82 * H), 200); // "there", still to come, at 70 % white
    // The backdrop darkens the caption band's middle row beside the text.
    int darker = 0, blue = 0;
    for (int x = 0; x < 1080; ++x) {
        const auto c = during.at(x, 0.76 * H);
        if (c.red < 12 / 255.0 && c.blue < 14 / 255.0) ++darker;
        if (std::abs(c.red - kBlue.red) < 0.05 && std::abs(c.blue - kBlue.blue) < 0.05) ++blue;
    }
    EXPECT_GT(darker, 50);
    EXPECT_GT(blue, 5); // the current word in the waveform colour
}

TEST(FrameRenderer, TitleAndCoverLayer) {
    testsupport::TempDir dir;
    testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                          "color=c=0xFF0000:s=300x100", "-frames:v", "1", (dir / "red.png").string()});
    auto image = FrameRenderer::loadImage(dir / "red.png");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 300);
    EXPECT_EQ(image->height, 100);
    FrameRenderer r(400, 400, kBlue, &*image, {}, std::string("A Show"), 30);
    const Drawn d(r, {}, 0, 1);
    // The wide picture covers the whole square, dimmed by 45 % black.
    expectColor(d.at(2, 2), {0.55, 0, 0}, 3.0 / 255);
    expectColor(d.at(397, 300), {0.55, 0, 0}, 3.0 / 255);
    // The title near 14 % from the top, nothing bright elsewhere.
    EXPECT_GT(d.countBright(0.10 * 400, 0.18 * 400), 20);
    EXPECT_EQ(d.countBright(0.25 * 400, 400), 0);
}

TEST(FrameRenderer, UnreadableImagesAreAbsent) {
    testsupport::TempDir dir;
    std::ofstream(dir / "bad.png") << "not a picture";
    EXPECT_FALSE(FrameRenderer::loadImage(dir / "bad.png"));
    EXPECT_FALSE(FrameRenderer::loadImage(dir / "missing.jpg"));
    testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                          "color=c=0x00FF00:s=32x16", "-frames:v", "1", (dir / "g.jpg").string()});
    const auto jpeg = FrameRenderer::loadImage(dir / "g.jpg");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->width, 32);
}

TEST(FrameRenderer, UnusableBufferIsLeftUntouched) {
    FrameRenderer r(64, 64, kBlue, nullptr, {}, std::nullopt, 30);
    std::vector<std::uint8_t> pixels(64 * 64 * 4, 0xAB);
    r.draw(pixels.data(), 64 * 2, {1.0f}, 0, 1); // stride too small
    EXPECT_EQ(pixels, std::vector<std::uint8_t>(64 * 64 * 4, 0xAB));
}

} // namespace
