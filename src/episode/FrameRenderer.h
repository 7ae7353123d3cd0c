#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "episode/CaptionCue.h"

typedef struct _cairo_surface cairo_surface_t;

namespace image {
struct Image;
}

namespace episode {

// An sRGB colour with alpha 1, components in 0...1.
struct RGBColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    bool operator==(const RGBColor&) const = default;
};

// A decoded picture in cairo's ARGB32 layout (premultiplied, B G R A bytes
// in memory on little-endian machines), rows `stride` bytes apart.
struct BGRAImage {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> pixels;
};

// Draws audiogram frames: the background (plain or a dimmed cover image), the
// title, 41 bars pulsing with the level envelope, word-lit captions and a
// progress bar. Immutable after construction, so frames may be drawn in any
// order and from several threads at once. The unchanging layer (background,
// cover, dimming, title) is drawn once here and copied into every frame; the
// background picture is not kept (none: a plain background).
class FrameRenderer {
public:
    FrameRenderer(int width, int height, RGBColor color, const BGRAImage* background,
                  std::vector<CaptionCue> cues, std::optional<std::string> title, int fps);
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer&) = delete;
    FrameRenderer& operator=(const FrameRenderer&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    const RGBColor& color() const { return color_; }
    const std::vector<CaptionCue>& cues() const { return cues_; }
    int fps() const { return fps_; }

    // Draws frame `frame` of `totalFrames` into a width x height buffer in
    // cairo's ARGB32 layout with `stride` bytes per row. Never fails: when the
    // buffer cannot be drawn into (stride too small or misaligned) it is left
    // untouched.
    void draw(std::uint8_t* pixels, int stride, const std::vector<float>& envelope, int frame,
              int totalFrames) const;

    // The waveform colour text: blanks and tabs trimmed, one leading "#"
    // dropped, read as a 32-bit hexadecimal number (higher bits than red are
    // ignored); anything unreadable gives 0x3B82F6.
    static RGBColor parseColor(std::string_view text);
    // Decodes a picture through the image engine, upright and in sRGB (any
    // format it reads, within its pixel limit); absent when the file cannot
    // be read, is too large or is not a picture.
    static std::optional<BGRAImage> loadImage(const std::filesystem::path& file);
    // A picture the image engine has decoded (upright and in sRGB, as
    // loadImage asks for), in cairo's layout; absent when there is no
    // memory for it or it is empty.
    static std::optional<BGRAImage> fromImage(const image::Image& picture);
    // The bar row's level for bar `i` (0...40) on frame `n`.
    static float barLevel(const std::vector<float>& envelope, int bar, int frame);
    // The cue shown at frame `n`, or none.
    std::optional<std::size_t> visibleCue(int frame) const;

private:
    struct SurfaceDeleter {
        void operator()(cairo_surface_t* s) const;
    };
    void drawCaption(void* cr, const CaptionCue& cue, double t) const;

    int width_;
    int height_;
    RGBColor color_;
    std::vector<CaptionCue> cues_;
    std::optional<std::string> title_;
    int fps_;
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> fixedLayer_;
};

} // namespace episode
