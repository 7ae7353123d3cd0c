#include <gtest/gtest.h>

#include <fmt/format.h>

#include <thread>
#include <tuple>
#include <vector>

#include <exiv2/exiv2.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "CoreImageFixtures.h"
#include "image/picture/CoreImagePipeline.h"
#include "image/picture/Resampler.h"
#include "support/TestSupport.h"

using image::AlphaHandling;
using image::CoreImagePipeline;

TEST(ScaledToFit, ShrinksToTheLongerSideOnly) {
    const auto& p = CoreImagePipeline::shared();
    const image::Image big{cv::Mat(3000, 4000, CV_8UC4, cv::Scalar::all(255)), {}};
    const auto fitted = p.scaledToFit(big, 2048);
    EXPECT_EQ(fitted.width(), 2048);
    EXPECT_EQ(fitted.height(), 1536);
    // A white picture stays white to its very edges.
    double lowest = 0;
    cv::minMaxLoc(fitted.pixels.reshape(1), &lowest);
    EXPECT_EQ(lowest, 255.0);

    const image::Image wide{cv::Mat(1000, 2048, CV_8UC4, cv::Scalar(1, 2, 3, 255)), {}};
    const auto same = p.scaledToFit(wide, 2048);
    EXPECT_EQ(same.width(), 2048);
    EXPECT_EQ(same.height(), 1000);
    EXPECT_EQ(cv::norm(same.pixels, wide.pixels, cv::NORM_INF), 0.0);
}

TEST(ScaledToFit, FineStripesAverageOutWithoutMoire) {
    // 3-pixel period: one bright column in three, mean 85.
    cv::Mat stripes(4000, 6000, CV_8UC4, cv::Scalar(0, 0, 0, 255));
    for (int x = 0; x < stripes.cols; x += 3) stripes.col(x).setTo(cv::Scalar(255, 255, 255, 255));
    const auto fitted = CoreImagePipeline::shared().scaledToFit({stripes, {}}, 2048);
    ASSERT_EQ(fitted.width(), 2048);
    ASSERT_EQ(fitted.height(), 1365);
    cv::Mat red;
    cv::extractChannel(fitted.pixels, red, 0);
    cv::Scalar mean, deviation;
    cv::meanStdDev(red, mean, deviation);
    EXPECT_NEAR(mean[0], 85.0, 1.0);
    EXPECT_LT(deviation[0], 3.0);
}

// Exact output sizes for every band count and sample type, up and down.
class ResampleShapes : public ::testing::TestWithParam<std::tuple<int, int, cv::Size>> {};

TEST_P(ResampleShapes, ExactSizeSameType) {
    const auto [depth, bands, target] = GetParam();
    cv::Mat source(97, 131, CV_MAKETYPE(depth, bands));
    const double top = depth == CV_8U ? 255 : depth == CV_16U ? 65535 : 1.0;
    source.setTo(cv::Scalar::all(top * 0.5));
    const cv::Mat out = image::resample(source, target.width, target.height);
    EXPECT_EQ(out.cols, target.width);
    EXPECT_EQ(out.rows, target.height);
    EXPECT_EQ(out.type(), source.type());
    // A flat picture stays flat (within rounding).
    double lo = 0, hi = 0;
    cv::minMaxLoc(out.reshape(1), &lo, &hi);
    EXPECT_NEAR(lo, top * 0.5, top * 0.01);
    EXPECT_NEAR(hi, top * 0.5, top * 0.01);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ResampleShapes,
                         ::testing::Combine(::testing::Values(CV_8U, CV_16U, CV_32F), ::testing::Values(1, 2, 3, 4),
                                            ::testing::Values(cv::Size(33, 17), cv::Size(300, 211), cv::Size(1, 1))));

TEST(Resample, PremultipliedKeepsTransparentColourOut) {
    // Left: invisible red; right: opaque green.
    cv::Mat rgba(64, 64, CV_8UC4, cv::Scalar(255, 0, 0, 0));
    rgba(cv::Rect(32, 0, 32, 64)).setTo(cv::Scalar(0, 255, 0, 255));
    const cv::Mat out = image::resample(rgba, 16, 16, AlphaHandling::premultiplied);
    for (int x = 0; x < 16; ++x) {
        const cv::Vec4b p = out.at<cv::Vec4b>(8, x);
        if (p[3] > 8) {
            EXPECT_LE(p[0], 2) << "column " << x;
        }
    }
    const cv::Mat bled = image::resample(rgba, 16, 16, AlphaHandling::independent);
    EXPECT_GT(bled.at<cv::Vec4b>(8, 8)[0], 8); // the contrast: colour bleeds when bands are independent
}

TEST(Resample, EmptyInOrOutGivesEmpty) {
    EXPECT_TRUE(image::resample(cv::Mat(), 10, 10).empty());
    EXPECT_TRUE(image::resample(cv::Mat(10, 10, CV_8UC4), 0, 10).empty());
}

namespace {

// Where a dark-to-bright step along a 1-row float picture crosses
// half way, interpolated between pixel centres, in edge coordinates (pixel x
// covers x to x + 1).
double risingEdge(const cv::Mat& row, double low, double high) {
    const double half = (low + high) / 2;
    for (int x = 0; x + 1 < row.cols; ++x) {
        const double a = row.at<float>(0, x), b = row.at<float>(0, x + 1);
        if (a < half && b >= half) return x + (half - a) / (b - a) + 0.5;
    }
    return -1;
}

} // namespace

// A step at x = 50 of a 100-pixel picture lands at 64 of 128, for every
// sample type and on both axes: enlarging keeps pixel centres in line.
class ResampleEnlargedEdge : public ::testing::TestWithParam<int> {};

TEST_P(ResampleEnlargedEdge, StaysInPlace) {
    const int depth = GetParam();
    const double top = depth == CV_8U ? 255 : depth == CV_16U ? 65535 : 1.0;
    cv::Mat step(100, 100, CV_MAKETYPE(depth, 1), cv::Scalar(0));
    step.colRange(50, 100).setTo(cv::Scalar(top));
    cv::Mat across = image::resample(step, 128, 100);
    cv::Mat down = image::resample(cv::Mat(step.t()), 100, 128);
    cv::Mat both = image::resample(step, 128, 128);
    cv::Mat mixed = image::resample(step, 128, 60); // one axis up, the other down
    for (const auto& [name, out] : {std::pair<const char*, cv::Mat>{"across", across}, {"down", cv::Mat(down.t())},
                                    {"both", both}, {"mixed", mixed}}) {
        cv::Mat row;
        out.row(out.rows / 2).convertTo(row, CV_32F);
        EXPECT_NEAR(risingEdge(row, 0, top), 64.0, 0.05) << name;
    }
    cv::Mat row;
    step.row(0).convertTo(row, CV_32F);
    EXPECT_NEAR(risingEdge(row, 0, top), 50.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Depths, ResampleEnlargedEdge, ::testing::Values(CV_8U, CV_16U, CV_32F));

// A photograph enlarged to a power of two matches ImageMagick's Lanczos
// (3 lobes) enlargement of the same file.
TEST(Resample, EnlargedPhotoMatchesImageMagick) {
    testsupport::TempDir dir;
    const auto source = dir / "rose.png";
    const auto theirs = dir / "theirs.png";
    // The rose photograph repeated at its own resolution: fine detail
    // everywhere, which a half-pixel shift shows at once.
    testsupport::runTool({"convert", "-size", "600x400", "tile:rose:", "-depth", "8", source.string()});
    testsupport::runTool({"convert", source.string(), "-filter", "Lanczos", "-resize", "1024x512!", theirs.string()});
    const cv::Mat photo = cv::imread(source.string(), cv::IMREAD_GRAYSCALE);
    const cv::Mat reference = cv::imread(theirs.string(), cv::IMREAD_GRAYSCALE);
    ASSERT_EQ(photo.size(), cv::Size(600, 400));
    ASSERT_EQ(reference.size(), cv::Size(1024, 512));
    const cv::Mat ours = image::resample(photo, 1024, 512);
    cv::Mat difference;
    cv::absdiff(ours, reference, difference);
    EXPECT_LE(cv::mean(difference)[0], 4.0);
}

// Eight items shrinking small 8-bit pictures at once, as a texture batch
// does: every shrink must come out as it does alone.
TEST(Resample, EightThreadsShrinkingAtOnceMatchOneAtATime) {
    // The sanitizer builds look for our own memory faults, which a few rounds
    // show; the release suite runs enough rounds to catch libvips' race.
    constexpr int kRounds = testsupport::kUnderSanitizer ? 250 : 2000;
    constexpr int kThreads = 8, kSides = 31;
    std::vector<cv::Mat> sources, expected;
    cv::RNG rng(5);
    for (int bands = 1; bands <= 4; ++bands) {
        cv::Mat picture(48, 64, CV_MAKETYPE(CV_8U, bands));
        rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
        for (int side = 20; side < 20 + kSides; ++side)
            expected.push_back(image::resample(picture, side, side * 3 / 4, AlphaHandling::independent));
        sources.push_back(picture);
    }
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const int bands = (t + round) % 4, side = (t * 7 + round) % kSides;
                const cv::Mat out = image::resample(sources[static_cast<std::size_t>(bands)], 20 + side,
                                                    (20 + side) * 3 / 4, AlphaHandling::independent);
                const cv::Mat& want = expected[static_cast<std::size_t>(bands * kSides + side)];
                if (out.size() != want.size() || out.type() != want.type() || cv::norm(out, want, cv::NORM_INF) != 0)
                    ++mismatches[static_cast<std::size_t>(t)];
            }
        });
    }
    for (auto& w : workers) w.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

// Every worker uses the shared pipeline at once: load, fit, encode, write.
// Each photo carries XMP in a namespace of its own, so reading one registers
// a namespace while other workers write theirs.
TEST(CoreImagePipelineThreads, EightWorkersShareThePipeline) {
    constexpr int kWorkers = 8, kRounds = 20;
    testsupport::TempDir dir;
    const auto photos = coretest::writeJpegsWithOwnXmp(dir.path(), kWorkers * kRounds, 640, 480);
    std::vector<std::thread> workers;
    std::vector<int> ok(kWorkers, 0);
    for (int i = 0; i < kWorkers; ++i) {
        workers.emplace_back([&, i] {
            const auto& p = CoreImagePipeline::shared();
            for (int round = 0; round < kRounds; ++round) {
                auto loaded = p.loadImage(photos[static_cast<std::size_t>(i * kRounds + round)]);
                if (!loaded) return;
                const auto small = p.scaledToFit(*loaded, 200 + 10 * i);
                const auto bytes = p.jpegData(small, 0.8);
                if (!bytes) return;
                p.write(small, dir / ("out" + fmt::format("{}", i) + (round % 2 ? ".png" : ".jpg")), 0.8);
            }
            ok[static_cast<std::size_t>(i)] = 1;
        });
    }
    for (auto& w : workers) w.join();
    for (int i = 0; i < kWorkers; ++i) {
        EXPECT_EQ(ok[static_cast<std::size_t>(i)], 1) << i;
        const auto back = CoreImagePipeline::shared().loadImage(dir / ("out" + fmt::format("{}", i) + ".png"));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->width(), 200 + 10 * i);
        // The last round (odd) wrote the PNG, with that photo's XMP.
        const int last = i * kRounds + kRounds - 1;
        const auto label = back->metadata.xmp.findKey(Exiv2::XmpKey(coretest::xmpLabelKey(last)));
        ASSERT_NE(label, back->metadata.xmp.end()) << i;
        EXPECT_EQ(label->toString(), coretest::xmpLabel(last));
    }
}
