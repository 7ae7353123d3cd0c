#include "ui/ComparisonDiffView.h"

#include <algorithm>
#include <cmath>

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/OptionControls.h"

namespace ui {

namespace {

constexpr double kDividerWidth = 2;
constexpr double kHandleDiameter = 28;

// A soft shadow around a shape: a few widening strokes of falling opacity.
void drawShadow(QPainter& painter, const QPainterPath& shape, double opacity, double radius) {
    painter.save();
    painter.setBrush(Qt::NoBrush);
    const int steps = 3;
    for (int i = steps; i >= 1; --i) {
        QColor colour(0, 0, 0);
        colour.setAlphaF(std::clamp(opacity / (steps + 1.0), 0.0, 1.0));
        painter.setPen(QPen(colour, radius * 2.0 * i / steps, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(shape);
    }
    painter.restore();
}

void drawCaption(QPainter& painter, const QString& text, const QColor& background, bool right, int viewWidth) {
    const QFont font = scaledFont(painter.font(), 10, QFont::Bold);
    const QFontMetrics metrics(font);
    const int w = metrics.horizontalAdvance(text) + 16;
    const int h = metrics.height() + 8;
    const int x = right ? viewWidth - 12 - w : 12;
    const QRect box(x, 12, w, h);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(box, 4, 4);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
    painter.restore();
}

// The rectangle an image of `size` takes when fitted (not filled) into
// `bounds`, centred.
QRect fitted(const QSize& size, const QRect& bounds) {
    if (size.isEmpty() || bounds.isEmpty()) return {};
    const QSize scaled = size.scaled(bounds.size(), Qt::KeepAspectRatio);
    return QRect(bounds.x() + (bounds.width() - scaled.width()) / 2, bounds.y() + (bounds.height() - scaled.height()) / 2,
                 scaled.width(), scaled.height());
}

} // namespace

ComparisonDiffView::ComparisonDiffView(QImage originalImage, QImage processedImage, QWidget* parent)
    : QWidget(parent), original_(std::move(originalImage)), processed_(std::move(processedImage)) {
    setMinimumSize(400, 300);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    rescale();
}

QRect ComparisonDiffView::imageRect(const QImage& image) const { return fitted(image.size(), rect()); }

void ComparisonDiffView::rescale() {
    originalRect_ = imageRect(original_);
    processedRect_ = imageRect(processed_);
    originalScaled_ = originalRect_.isEmpty()
                          ? QPixmap()
                          : QPixmap::fromImage(original_.scaled(originalRect_.size(), Qt::IgnoreAspectRatio,
                                                                Qt::SmoothTransformation));
    processedScaled_ = processedRect_.isEmpty()
                           ? QPixmap()
                           : QPixmap::fromImage(processed_.scaled(processedRect_.size(), Qt::IgnoreAspectRatio,
                                                                  Qt::SmoothTransformation));
}

void ComparisonDiffView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    rescale();
}

void ComparisonDiffView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int W = width();
    const int H = height();
    painter.fillRect(rect(), Qt::black);

    if (!processedScaled_.isNull()) painter.drawPixmap(processedRect_.topLeft(), processedScaled_);
    const double splitX = std::max(0.0, W * split_);
    if (!originalScaled_.isNull()) {
        painter.save();
        painter.setClipRect(QRectF(0, 0, splitX, H));
        painter.drawPixmap(originalRect_.topLeft(), originalScaled_);
        painter.restore();
    }

    // The divider, its round handle and the arrows on it.
    const QRectF bar(splitX - kDividerWidth / 2, 0, kDividerWidth, H);
    QPainterPath barPath;
    barPath.addRect(bar);
    drawShadow(painter, barPath, 0.6, 3);
    painter.fillRect(bar, Qt::white);
    const QPointF centre(splitX, H * 0.5);
    QPainterPath handle;
    handle.addEllipse(centre, kHandleDiameter / 2, kHandleDiameter / 2);
    drawShadow(painter, handle, 0.4, 3);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPath(handle);
    painter.setPen(QPen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const double a = 6.5;
    const double tip = 3;
    painter.drawLine(QPointF(centre.x() - a, centre.y()), QPointF(centre.x() + a, centre.y()));
    painter.drawPolyline(QPolygonF({QPointF(centre.x() - a + tip, centre.y() - tip), QPointF(centre.x() - a, centre.y()),
                                    QPointF(centre.x() - a + tip, centre.y() + tip)}));
    painter.drawPolyline(QPolygonF({QPointF(centre.x() + a - tip, centre.y() - tip), QPointF(centre.x() + a, centre.y()),
                                    QPointF(centre.x() + a - tip, centre.y() + tip)}));

    QColor before(0, 0, 0);
    before.setAlphaF(0.7);
    QColor after = palette().color(QPalette::Highlight);
    after.setAlphaF(0.85);
    drawCaption(painter, QStringLiteral("BEFORE (Original)"), before, false, W);
    drawCaption(painter, QStringLiteral("AFTER (Processed)"), after, true, W);
}

bool ComparisonDiffView::onDivider(const QPoint& point) const {
    // The divider carries the drag; its handle and a few pixels either side
    // of the bar count as on it.
    const double splitX = width() * split_;
    return std::abs(point.x() - splitX) <= kHandleDiameter / 2;
}

void ComparisonDiffView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !onDivider(event->position().toPoint())) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressed_ = true;
    dragging_ = false;
    pressPoint_ = event->position().toPoint();
    event->accept();
}

void ComparisonDiffView::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_) return;
    const QPoint at = event->position().toPoint();
    if (!dragging_) {
        const QPoint moved = at - pressPoint_;
        if (std::hypot(moved.x(), moved.y()) < kDragThreshold) return;
        dragging_ = true;
    }
    if (width() <= 0) return;
    split_ = std::clamp(at.x() / static_cast<double>(width()), kMinSplit, kMaxSplit);
    update();
}

void ComparisonDiffView::mouseReleaseEvent(QMouseEvent* event) {
    pressed_ = false;
    dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

} // namespace ui
