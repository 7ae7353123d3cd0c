#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "BracketFixtures.h"
#include "image/photo/BracketMerger.h"
#include "image/photo/MergeGate.h"
#include "support/TestSupport.h"

namespace {

using image::BracketMerger;
using Frame = BracketMerger::FrameSource;

cv::Mat solid(int w, int h, int value) { return cv::Mat(h, w, CV_8UC4, cv::Scalar(value, value, value, 255)); }

int maxChannelDifference(const cv::Mat& a, const cv::Mat& b, cv::Rect area) {
    cv::Mat diff;
    cv::absdiff(a(area), b(area), diff);
    double worst = 0;
    cv::minMaxLoc(diff.reshape(1), nullptr, &worst);
    return static_cast<int>(worst);
}

double meanDifference(const cv::Mat& a, const cv::Mat& b, cv::Rect area) {
    cv::Mat diff;
    cv::absdiff(a(area), b(area), diff);
    const cv::Scalar m = cv::mean(diff);
    return (m[0] + m[1] + m[2]) / 3.0;
}

// ---- Plane kernels against the formulas written out directly -------------

std::vector<float> reduceByFormula(const std::vector<float>& p, int w, int h) {
    const int w2 = (w + 1) / 2, h2 = (h + 1) / 2;
    auto clampAt = [](const std::vector<float>& v, int stride, int i, int n, int fixed, bool rows) {
        i = std::clamp(i, 0, n - 1);
        return rows ? v[std::size_t(fixed * stride + i)] : v[std::size_t(i * stride + fixed)];
    };
    std::vector<float> r(std::size_t(w2) * std::size_t(h));
    for (int y = 0; y < h; ++y)
        for (int j = 0; j < w2; ++j) {
            auto x = [&](int i) { return clampAt(p, w, i, w, y, true); };
            r[std::size_t(y * w2 + j)] =
                (1 * x(2 * j - 2) + 4 * x(2 * j - 1) + 6 * x(2 * j) + 4 * x(2 * j + 1) + 1 * x(2 * j + 2)) / 16;
        }
    std::vector<float> out(std::size_t(w2) * std::size_t(h2));
    for (int i = 0; i < h2; ++i)
        for (int x0 = 0; x0 < w2; ++x0) {
            auto x = [&](int k) { return clampAt(r, w2, k, h, x0, false); };
            out[std::size_t(i * w2 + x0)] =
                (1 * x(2 * i - 2) + 4 * x(2 * i - 1) + 6 * x(2 * i) + 4 * x(2 * i + 1) + 1 * x(2 * i + 2)) / 16;
        }
    return out;
}

std::vector<float> expandByFormula(const std::vector<float>& p, int w, int h, int W, int H) {
    auto expand1 = [](auto x, int n, int t) {
        const int j = t / 2;
        if (t % 2 == 0) return (x(std::max(j - 1, 0)) + 6 * x(j) + x(std::min(j + 1, n - 1))) / 8;
        return (x(j) + x(std::min(j + 1, n - 1))) / 2;
    };
    std::vector<float> r(std::size_t(W) * std::size_t(h));
    for (int y = 0; y < h; ++y)
        for (int t = 0; t < W; ++t)
            r[std::size_t(y * W + t)] = expand1([&](int i) { return p[std::size_t(y * w + i)]; }, w, t);
    std::vector<float> out(std::size_t(W) * std::size_t(H));
    for (int t = 0; t < H; ++t)
        for (int x = 0; x < W; ++x)
            out[std::size_t(t * W + x)] = expand1([&](int i) { return r[std::size_t(i * W + x)]; }, h, t);
    return out;
}

class PyramidKernels : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(PyramidKernels, ReduceAndExpandFollowTheFormulas) {
    const auto [w, h] = GetParam();
    std::mt19937 rng(static_cast<unsigned>(w * 131 + h));
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    std::vector<float> plane(std::size_t(w) * std::size_t(h));
    for (auto& v : plane) v = dist(rng);

    const auto reduced = BracketMerger::reduce(plane, w, h);
    const auto expectedReduced = reduceByFormula(plane, w, h);
    ASSERT_EQ(reduced.size(), expectedReduced.size());
    for (std::size_t i = 0; i < reduced.size(); ++i) ASSERT_NEAR(reduced[i], expectedReduced[i], 1e-6f) << i;

    const int w2 = (w + 1) / 2, h2 = (h + 1) / 2;
    const auto expanded = BracketMerger::expand(reduced, w2, h2, w, h);
    const auto expectedExpanded = expandByFormula(reduced, w2, h2, w, h);
    ASSERT_EQ(expanded.size(), expectedExpanded.size());
    for (std::size_t i = 0; i < expanded.size(); ++i) ASSERT_NEAR(expanded[i], expectedExpanded[i], 1e-6f) << i;
}

INSTANTIATE_TEST_SUITE_P(OddAndEvenSizes, PyramidKernels,
                         ::testing::Values(std::pair{13, 7}, std::pair{1, 1}, std::pair{1, 9}, std::pair{2, 3},
                                           std::pair{31, 17}, std::pair{64, 48}));

TEST(PyramidKernels, EmptyPlaneGivesEmptyPlane) {
    EXPECT_TRUE(BracketMerger::reduce({}, 0, 0).empty());
    EXPECT_TRUE(BracketMerger::expand({}, 0, 5, 0, 10).empty());
}

class PyramidDepth : public ::testing::TestWithParam<std::tuple<int, int, int>> {};
TEST_P(PyramidDepth, FollowsTheShorterSide) {
    const auto [w, h, depth] = GetParam();
    EXPECT_EQ(BracketMerger::pyramidDepth(w, h), depth);
}
INSTANTIATE_TEST_SUITE_P(Sizes, PyramidDepth,
                         ::testing::Values(std::tuple{4000, 3000, 9}, std::tuple{16, 16, 2}, std::tuple{4096, 4096, 10},
                                           std::tuple{8000, 6000, 10}, std::tuple{16, 1000, 2}, std::tuple{31, 31, 2},
                                           std::tuple{32, 40, 3}, std::tuple{2000, 1500, 8}));

// ---- Errors, raised from the sizes before anything is rendered -----------

struct ErrorCase {
    std::string name;
    std::vector<std::pair<int, int>> sizes;
    std::string text;
};
class FusionErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(FusionErrors, RefuseFromSizesBeforeRendering) {
    std::atomic<int> renders{0};
    std::vector<Frame> frames;
    for (const auto& [w, h] : GetParam().sizes) {
        Frame f;
        f.width = w;
        f.height = h;
        f.render = [&renders, w = w, h = h] {
            ++renders;
            return solid(w, h, 128);
        };
        frames.push_back(f);
    }
    try {
        (void)BracketMerger().fuse(frames, false);
        FAIL() << "no error";
    } catch (const BracketMerger::MergeError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().text);
    }
    EXPECT_EQ(renders.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FusionErrors,
    ::testing::Values(ErrorCase{"Empty", {}, "No photos to merge."},
                      ErrorCase{"TooSmall", {{15, 100}, {15, 100}}, "The photos are too small to merge."},
                      ErrorCase{"Mismatch", {{3000, 2000}, {2000, 3000}}, "The bracketed photos aren't all the same size."},
                      ErrorCase{"LaterMismatch", {{64, 64}, {64, 64}, {65, 64}}, "The bracketed photos aren't all the same size."}),
    [](const auto& info) { return info.param.name; });

TEST(FusionErrors, UnrenderableFrameFailsWithRenderText) {
    Frame broken;
    broken.width = broken.height = 32;
    broken.render = [] { return cv::Mat(); };
    try {
        (void)BracketMerger().fuse({broken}, false);
        FAIL() << "no error";
    } catch (const BracketMerger::MergeError& e) {
        EXPECT_EQ(e.kind(), BracketMerger::MergeError::Case::renderFailed);
        EXPECT_EQ(std::string(e.what()), "Could not render the merged photo.");
    }
}

// ---- Fusion results --------------------------------------------------------

TEST(ExposureFusion, OneFrameGivesItselfBack) {
    const cv::Mat picture = bracketfixtures::scene(257, 131, 3);
    const image::Image out = BracketMerger().fuse({Frame::picture(picture)}, false);
    ASSERT_EQ(out.pixels.type(), CV_8UC4);
    ASSERT_EQ(out.pixels.size(), picture.size());
    EXPECT_LE(maxChannelDifference(out.pixels, picture, cv::Rect(0, 0, 257, 131)), 1);
}

TEST(ExposureFusion, BlackWithMidGreyGivesMidGrey) {
    const image::Image out = BracketMerger().fuse({Frame::picture(solid(80, 60, 0)), Frame::picture(solid(80, 60, 128))}, false);
    EXPECT_LE(maxChannelDifference(out.pixels, solid(80, 60, 128), cv::Rect(0, 0, 80, 60)), 1);
}

TEST(ExposureFusion, TakesEachRegionFromItsBetterExposedFrame) {
    // Left half dark in the first frame, right half blown out in the second.
    cv::Mat first = solid(96, 64, 128), second = solid(96, 64, 128);
    first(cv::Rect(0, 0, 48, 64)).setTo(cv::Scalar(5, 5, 5, 255));
    second(cv::Rect(48, 0, 48, 64)).setTo(cv::Scalar(250, 250, 250, 255));
    const image::Image out = BracketMerger().fuse({Frame::picture(first), Frame::picture(second)}, false);
    EXPECT_NEAR(out.pixels.at<cv::Vec4b>(32, 10)[0], 128, 3);
    EXPECT_NEAR(out.pixels.at<cv::Vec4b>(32, 85)[1], 128, 3);
}

TEST(ExposureFusion, OutputHasFirstFrameSizeAndNoTransparency) {
    cv::Mat seeThrough = bracketfixtures::scene(70, 40, 5);
    seeThrough.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 40; });
    const cv::Mat rgb16 = [] {
        cv::Mat m;
        bracketfixtures::scene(70, 40, 6).convertTo(m, CV_16UC4, 257.0);
        return m;
    }();
    const image::Image out = BracketMerger().fuse({Frame::picture(seeThrough), Frame::picture(rgb16)}, false);
    ASSERT_EQ(out.width(), 70);
    ASSERT_EQ(out.height(), 40);
    std::vector<cv::Mat> channels;
    cv::split(out.pixels, channels);
    EXPECT_EQ(cv::countNonZero(channels[3] != 255), 0);
}

// ---- Alignment ---------------------------------------------------------------

// The reference moved by (dx, dy) in our rows (+y down), edges repeated.
cv::Mat moved(const cv::Mat& picture, double dx, double dy) {
    const cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
    cv::Mat out;
    cv::warpAffine(picture, out, m, picture.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return out;
}

class FusionAlignment : public ::testing::Test {
protected:
    static void SetUpTestSuite() { reference_ = new cv::Mat(bracketfixtures::scene(2000, 1500, 11)); }
    static void TearDownTestSuite() {
        delete reference_;
        reference_ = nullptr;
    }
    static const cv::Mat& reference() { return *reference_; }
    static inline cv::Mat* reference_ = nullptr;
};

TEST_F(FusionAlignment, ShiftWithinLimitIsUndone) {
    // The frame's content sits 12 px right and 7 px up of the reference's.
    const cv::Mat frame = moved(reference(), 12, -7);
    const auto t = BracketMerger::alignment(frame, reference());
    ASSERT_TRUE(t);
    EXPECT_EQ(*t, (BracketMerger::Translation{-12, 7}));

    const cv::Rect inner(40, 40, 1920, 1420);
    const image::Image aligned = BracketMerger().fuse({Frame::picture(reference()), Frame::picture(frame)}, true);
    const image::Image unaligned = BracketMerger().fuse({Frame::picture(reference()), Frame::picture(frame)}, false);
    EXPECT_LE(meanDifference(aligned.pixels, reference(), inner), 1.0);
    EXPECT_GT(meanDifference(unaligned.pixels, reference(), inner), 3.0);

    // What is left of the shift, measured on the fused result.
    auto grey = [](const cv::Mat& rgba) {
        cv::Mat g, f;
        cv::cvtColor(rgba, g, cv::COLOR_RGBA2GRAY);
        g.convertTo(f, CV_32F);
        return f;
    };
    const cv::Point2d residual = cv::phaseCorrelate(grey(reference()), grey(aligned.pixels));
    EXPECT_LT(std::hypot(residual.x, residual.y), 0.5);
}

TEST_F(FusionAlignment, LargeAndSubPixelShiftsAreLeftAlone) {
    EXPECT_FALSE(BracketMerger::alignment(moved(reference(), 100, 0), reference())) << "beyond 3 % of 2000";
    EXPECT_FALSE(BracketMerger::alignment(moved(reference(), 0.3, -0.3), reference())) << "below half a pixel";
    const auto small = BracketMerger::alignment(moved(reference(), -1, 0), reference());
    ASSERT_TRUE(small);
    EXPECT_EQ(*small, (BracketMerger::Translation{1, 0}));
}

TEST_F(FusionAlignment, RegistersAcrossExposures) {
    const cv::Mat darker = bracketfixtures::scene(2000, 1500, 11, 0.5);
    const auto t = BracketMerger::alignment(moved(darker, -20, 15), reference());
    ASSERT_TRUE(t);
    EXPECT_EQ(*t, (BracketMerger::Translation{20, -15}));
}

// ---- Frames from files -------------------------------------------------------

TEST(ExposureFusion, FileFramesTakeUprightSizesFromTheirHeaders) {
    testsupport::TempDir dir;
    bracketfixtures::Capture turned;
    turned.orientation = 6;
    bracketfixtures::writeJpeg(dir / "a.jpg", bracketfixtures::scene(64, 40, 1), turned);
    bracketfixtures::writeJpeg(dir / "b.jpg", bracketfixtures::scene(64, 40, 1, 0.6), turned);
    const auto a = Frame::file(dir / "a.jpg");
    EXPECT_EQ(a.width, 40);
    EXPECT_EQ(a.height, 64);
    const image::Image out = BracketMerger().fuse({a, Frame::file(dir / "b.jpg")}, true);
    EXPECT_EQ(out.width(), 40);
    EXPECT_EQ(out.height(), 64);
    const auto missing = Frame::file(dir / "missing.jpg");
    EXPECT_EQ(missing.width, 0);
    EXPECT_THROW((void)BracketMerger().fuse({missing}, false), BracketMerger::MergeError);
}

// ---- The gate ------------------------------------------------------------------

TEST(MergeGate, RunsOneOperationAtATimeAndPassesResultsAndErrors) {
    EXPECT_EQ(image::MergeGate::shared().run([] { return 42; }), 42);
    EXPECT_THROW(image::MergeGate::shared().run([]() -> int { throw BracketMerger::MergeError::renderFailed(); }),
                 BracketMerger::MergeError);

    std::atomic<int> inside{0}, most{0}, done{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t)
        workers.emplace_back([&] {
            for (int k = 0; k < 5; ++k)
                image::MergeGate::shared().run([&] {
                    const int now = ++inside;
                    int seen = most.load();
                    while (now > seen && !most.compare_exchange_weak(seen, now)) {
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    --inside;
                    ++done;
                });
        });
    for (auto& w : workers) w.join();
    EXPECT_EQ(done.load(), 40);
    EXPECT_EQ(most.load(), 1);
    // A merge started from inside the gate runs instead of waiting for itself.
    EXPECT_EQ(image::MergeGate::shared().run([] { return image::MergeGate::shared().run([] { return 7; }); }), 7);
}

} // namespace
