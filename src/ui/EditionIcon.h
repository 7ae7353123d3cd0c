#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <QPixmap>

namespace ui {

// An edition's icon as a few filled shapes on a 64×64 canvas. The window
// and its tray icon draw it; the installed SVG file is written from it, so
// the desktop's launcher and the running window show the same picture.
struct IconShape {
    enum class Kind { roundedRect, polygon };
    Kind kind;
    // roundedRect: x, y, width, height, corner radius; polygon: x0, y0, x1, y1, …
    std::vector<double> values;
    unsigned rgb;          // 0xRRGGBB
    double opacity = 1.0;

    bool operator==(const IconShape&) const = default;
};

// The picture of the edition whose launcher is named `desktopId`
// ("quorvel", "halvane", "zentrix"); another name gets the podcast
// edition's picture.
const std::vector<IconShape>& editionIconShapes(std::string_view desktopId);
// The picture drawn at `size`×`size` pixels.
QPixmap drawEditionIcon(std::string_view desktopId, int size);
// The picture as an SVG document.
std::string editionIconSvg(std::string_view desktopId);

} // namespace ui
