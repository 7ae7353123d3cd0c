#pragma once

#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QWidget>

namespace ui {

// Shows an image before and after processing in one frame, split by a
// vertical divider the user drags sideways: the original left of it, the
// processed image right of it, a caption in each upper corner. Both images
// are fitted into the same rectangle on black, so same-sized images line up
// pixel for pixel across the divider.
class ComparisonDiffView : public QWidget {
public:
    static constexpr double kMinSplit = 0.02;
    static constexpr double kMaxSplit = 0.98;
    static constexpr int kDragThreshold = 10;

    ComparisonDiffView(QImage originalImage, QImage processedImage, QWidget* parent = nullptr);

    double splitFraction() const { return split_; }
    // Where both images are drawn (view coordinates), letterboxed.
    QRect imageRect(const QImage& image) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void rescale();
    bool onDivider(const QPoint& point) const;

    QImage original_;
    QImage processed_;
    // Copies scaled to the current size: made once per resize, not per paint.
    QPixmap originalScaled_;
    QPixmap processedScaled_;
    QRect originalRect_;
    QRect processedRect_;
    double split_ = 0.5;
    bool pressed_ = false;
    bool dragging_ = false;
    QPoint pressPoint_;
};

} // namespace ui
