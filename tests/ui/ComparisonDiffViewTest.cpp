#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "ui/ComparisonDiffView.h"

namespace {

using ui::ComparisonDiffView;

QImage filled(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QImage render(ComparisonDiffView& view) {
    QImage out(view.size(), QImage::Format_RGB32);
    view.render(&out);
    return out;
}

void drag(ComparisonDiffView& view, QPoint from, QPoint to) {
    QTest::mousePress(&view, Qt::LeftButton, {}, from);
    QTest::mouseMove(&view, to);
    QTest::mouseRelease(&view, Qt::LeftButton, {}, to);
}

TEST(ComparisonDiffView, FreshViewSplitsAtHalfTheWidth) {
    ComparisonDiffView view(filled(800, 600, Qt::red), filled(800, 600, Qt::blue));
    view.resize(800, 600);
    EXPECT_DOUBLE_EQ(view.splitFraction(), 0.5);
    EXPECT_EQ(view.minimumSize(), QSize(400, 300));
    const QImage shot = render(view);
    // Below the captions and away from the handle: original left, processed right.
    EXPECT_EQ(shot.pixelColor(200, 500), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(600, 500), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(395, 500), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(405, 500), QColor(Qt::blue));
    // The divider is white at the centre line.
    EXPECT_EQ(shot.pixelColor(400, 100), QColor(Qt::white));
}

TEST(ComparisonDiffView, DragsStopAtTwoAndNinetyEightPercent) {
    ComparisonDiffView view(filled(800, 600, Qt::red), filled(800, 600, Qt::blue));
    view.resize(1000, 600);
    drag(view, {500, 300}, {-200, 300});
    EXPECT_DOUBLE_EQ(view.splitFraction(), 0.02);
    drag(view, {20, 300}, {5000, 300});
    EXPECT_DOUBLE_EQ(view.splitFraction(), 0.98);
    drag(view, {980, 300}, {250, 320});
    EXPECT_DOUBLE_EQ(view.splitFraction(), 0.25);
}

TEST(ComparisonDiffView, MovementsUnderTenPixelsChangeNothing) {
    ComparisonDiffView view(filled(800, 600, Qt::red), filled(800, 600, Qt::blue));
    view.resize(800, 600);
    drag(view, {400, 300}, {409, 300});
    EXPECT_DOUBLE_EQ(view.splitFraction(), 0.5);
    // Once past the threshold the divider follows the pointer itself.
    QTest::mousePress(&view, Qt::LeftButton, {}, {400, 300});
    QTest::mouseMove(&view, {409, 300});
    EXPECT_DOUBLE_EQ(view.splitFraction(), 0.5);
    QTest::mouseMove(&view, {480, 300});
    EXPECT_DOUBLE_EQ(view.splitFraction(), 0.6);
    QTest::mouseRelease(&view, Qt::LeftButton, {}, {480, 300});
    // A press away from the divider starts no drag.
    drag(view, {100, 300}, {300, 300});
    EXPECT_DOUBLE_EQ(view.splitFraction(), 0.6);
}

TEST(ComparisonDiffView, LetterboxedImagesShareOnePlacement) {
    // 2:1 images in a 4:3 view: bars above and below, both images in the
    // same rectangle, so a feature sits at the same column in both.
    QImage before = filled(400, 200, Qt::darkGreen);
    QImage after = filled(400, 200, Qt::darkGreen);
    {
        QPainter p(&before);
        p.fillRect(100, 0, 4, 200, Qt::yellow);
    }
    {
        QPainter p(&after);
        p.fillRect(100, 0, 4, 200, Qt::magenta);
    }
    ComparisonDiffView view(before, after);
    view.resize(800, 600);
    EXPECT_EQ(view.imageRect(before), QRect(0, 100, 800, 400));
    EXPECT_EQ(view.imageRect(before), view.imageRect(after));
    const QImage shot = render(view);
    EXPECT_EQ(shot.pixelColor(250, 80), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(10, 590), QColor(Qt::black));
    // Column of the stripe in the original (left) half.
    auto stripeColumn = [&](const QImage& img, QColor colour, int y, int from, int to) {
        for (int x = from; x < to; ++x)
            if (img.pixelColor(x, y) == colour) return x;
        return -1;
    };
    const int left = stripeColumn(shot, Qt::yellow, 450, 0, 380);
    drag(view, {400, 300}, {120, 300});
    const QImage moved = render(view);
    const int right = stripeColumn(moved, Qt::magenta, 450, 0, 380);
    ASSERT_GE(left, 0);
    EXPECT_EQ(left, right);
}

TEST(ComparisonDiffView, SnapshotForAVisualCheck) {
    QImage before(1200, 800, QImage::Format_RGB32);
    QImage after(1200, 800, QImage::Format_RGB32);
    for (int y = 0; y < 800; ++y)
        for (int x = 0; x < 1200; ++x) {
            before.setPixelColor(x, y, QColor(x * 255 / 1200, 90, 60));
            after.setPixelColor(x, y, QColor(60, x * 255 / 1200, 200));
        }
    ComparisonDiffView view(before, after);
    view.resize(900, 600);
    const QImage shot = render(view);
    testsupport::TempDir dir;
    const auto out = std::filesystem::path(::testing::TempDir()) / "comparison-view.png";
    EXPECT_TRUE(shot.save(QString::fromStdString(out.string())));
}

} // namespace
