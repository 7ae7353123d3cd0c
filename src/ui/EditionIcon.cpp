#include "ui/EditionIcon.h"

#include <map>

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <fmt/format.h>

namespace ui {

namespace {

using Kind = IconShape::Kind;
constexpr unsigned kWhite = 0xffffff;

IconShape tile(unsigned rgb) { return {Kind::roundedRect, {4, 4, 56, 56, 12}, rgb}; }

// Five waveform bars on a blue tile.
std::vector<IconShape> quorvelIcon() {
    std::vector<IconShape> shapes{tile(0x2b5fd9)};
    const double heights[] = {14, 28, 40, 24, 16};
    for (int i = 0; i < 5; ++i)
        shapes.push_back({Kind::roundedRect, {13 + i * 8.5, 32 - heights[i] / 2, 5, heights[i], 2.5}, kWhite});
    return shapes;
}

// A house with its door on an orange tile.
std::vector<IconShape> halvaneIcon() {
    const unsigned orange = 0xd9822b;
    return {tile(orange),
            {Kind::polygon, {13, 33, 32, 14, 51, 33}, kWhite},
            {Kind::roundedRect, {19, 30, 26, 21, 1.5}, kWhite},
            {Kind::roundedRect, {28.5, 39, 7, 12, 1}, orange}};
}

// A two-by-two texture checker on a violet tile.
std::vector<IconShape> zentrixIcon() {
    return {tile(0x7b3fd1),
            {Kind::roundedRect, {14, 14, 17, 17, 2}, kWhite},
            {Kind::roundedRect, {33, 14, 17, 17, 2}, kWhite, 0.45},
            {Kind::roundedRect, {14, 33, 17, 17, 2}, kWhite, 0.45},
            {Kind::roundedRect, {33, 33, 17, 17, 2}, kWhite}};
}

QColor colour(const IconShape& shape) {
    QColor c(static_cast<int>((shape.rgb >> 16) & 0xff), static_cast<int>((shape.rgb >> 8) & 0xff),
             static_cast<int>(shape.rgb & 0xff));
    c.setAlphaF(static_cast<float>(shape.opacity));
    return c;
}

std::string fillAttributes(const IconShape& shape) {
    std::string out = fmt::format(R"( fill="#{:06x}")", shape.rgb);
    if (shape.opacity < 1.0) out += fmt::format(R"( fill-opacity="{}")", shape.opacity);
    return out;
}

} // namespace

const std::vector<IconShape>& editionIconShapes(std::string_view desktopId) {
    static const std::map<std::string, std::vector<IconShape>, std::less<>> icons{
        {"quorvel", quorvelIcon()}, {"halvane", halvaneIcon()}, {"zentrix", zentrixIcon()}};
    const auto it = icons.find(desktopId);
    return it != icons.end() ? it->second : icons.at("quorvel");
}

QPixmap drawEditionIcon(std::string_view desktopId, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    for (const IconShape& shape : editionIconShapes(desktopId)) {
        const auto& v = shape.values;
        QPainterPath path;
        if (shape.kind == Kind::roundedRect && v.size() == 5) {
            path.addRoundedRect(QRectF(v[0], v[1], v[2], v[3]), v[4], v[4]);
        } else if (shape.kind == Kind::polygon) {
            QPolygonF polygon;
            for (std::size_t i = 0; i + 1 < v.size(); i += 2) polygon << QPointF(v[i], v[i + 1]);
            path.addPolygon(polygon);
            path.closeSubpath();
        }
        p.fillPath(path, colour(shape));
    }
    return pixmap;
}

std::string editionIconSvg(std::string_view desktopId) {
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">\n";
    for (const IconShape& shape : editionIconShapes(desktopId)) {
        const auto& v = shape.values;
        if (shape.kind == Kind::roundedRect && v.size() == 5) {
            svg += fmt::format(R"(  <rect x="{}" y="{}" width="{}" height="{}" rx="{}" ry="{}"{}/>)", v[0], v[1], v[2],
                               v[3], v[4], v[4], fillAttributes(shape));
        } else if (shape.kind == Kind::polygon) {
            std::string points;
            for (std::size_t i = 0; i + 1 < v.size(); i += 2)
                points += fmt::format("{}{},{}", points.empty() ? "" : " ", v[i], v[i + 1]);
            svg += fmt::format(R"(  <polygon points="{}"{}/>)", points, fillAttributes(shape));
        }
        svg += '\n';
    }
    svg += "</svg>\n";
    return svg;
}

} // namespace ui
