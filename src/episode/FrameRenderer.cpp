#include "episode/FrameRenderer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include <cairo.h>
#include <opencv2/core.hpp>
#include <pango/pangocairo.h>

#include "image/picture/ImageCodecs.h"

namespace episode {

namespace {

constexpr int kBars = 41;
constexpr const char* kFontFamily = "DejaVu Sans, Sans";

struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Context = std::unique_ptr<cairo_t, ContextDeleter>;
struct LayoutDeleter {
    void operator()(PangoLayout* l) const { g_object_unref(l); }
};
using Layout = std::unique_ptr<PangoLayout, LayoutDeleter>;

// A bold layout of `text` wrapped and centred in `boxWidth` pixels.
Layout makeLayout(cairo_t* cr, const std::string& text, double fontSize, double boxWidth) {
    Layout layout(pango_cairo_create_layout(cr));
    PangoFontDescription* font = pango_font_description_from_string(kFontFamily);
    pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
    pango_font_description_set_absolute_size(font, fontSize * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), font);
    pango_font_description_free(font);
    pango_layout_set_width(layout.get(), static_cast<int>(std::lround(boxWidth * PANGO_SCALE)));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
    pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(text.size()));
    return layout;
}

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::min({r, w / 2, h / 2});
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

std::uint16_t channel16(double v) {
    return static_cast<std::uint16_t>(std::lround(std::clamp(v, 0.0, 1.0) * 65535.0));
}

void addColor(PangoAttrList* list, const RGBColor& c, double alpha, std::size_t begin, std::size_t end) {
    PangoAttribute* fg = pango_attr_foreground_new(channel16(c.red), channel16(c.green), channel16(c.blue));
    fg->start_index = static_cast<guint>(begin);
    fg->end_index = static_cast<guint>(end);
    pango_attr_list_insert(list, fg);
    PangoAttribute* a = pango_attr_foreground_alpha_new(channel16(alpha));
    a->start_index = static_cast<guint>(begin);
    a->end_index = static_cast<guint>(end);
    pango_attr_list_insert(list, a);
}

} // namespace

void FrameRenderer::SurfaceDeleter::operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }

RGBColor FrameRenderer::parseColor(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '#') text.remove_prefix(1);
    std::uint32_t value = 0x3B82F6;
    std::uint32_t parsed = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed, 16);
    if (!text.empty() && ec == std::errc() && ptr == text.data() + text.size()) value = parsed;
    return RGBColor{((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0};
}

std::optional<BGRAImage> FrameRenderer::loadImage(const std::filesystem::path& file) {
    // Upright and in sRGB, as the cover in the tags and every photo.
    constexpr image::DecodeOptions upright{.upright = true, .toSRGB = true, .readMetadata = false};
    try {
        return fromImage(image::loadImageFile(file, upright));
    } catch (const std::exception&) { // ImageReadError, or no memory to convert
        return std::nullopt;
    }
}

std::optional<BGRAImage> FrameRenderer::fromImage(const image::Image& picture) {
    cv::Mat rgba;
    BGRAImage image;
    try {
        // 16-bit samples and float (0..1) down to 8 bits, rounded and clamped.
        const double scale = picture.pixels.depth() == CV_16U ? 1.0 / 257.0
                             : picture.pixels.depth() == CV_32F ? 255.0
                                                                : 1.0;
        picture.pixels.convertTo(rgba, CV_8U, scale);
        image.width = rgba.cols;
        image.height = rgba.rows;
        image.stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, image.width);
        if (image.width <= 0 || image.height <= 0 || image.stride <= 0) return std::nullopt;
        image.pixels.resize(static_cast<std::size_t>(image.stride) * static_cast<std::size_t>(image.height));
    } catch (const std::exception&) { // no memory to convert
        return std::nullopt;
    }
    // Straight RGBA to cairo's premultiplied B G R A; opaque pixels as they are.
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* in = rgba.ptr<std::uint8_t>(y);
        std::uint8_t* out = image.pixels.data() + static_cast<std::size_t>(y) * image.stride;
        for (int x = 0; x < image.width; ++x, in += 4, out += 4) {
            const unsigned a = in[3];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<std::uint8_t>(a == 255 ? in[2 - c] : (in[2 - c] * a + 127) / 255);
            out[3] = static_cast<std::uint8_t>(a);
        }
    }
    return image;
}

FrameRenderer::FrameRenderer(int width, int height, RGBColor color, const BGRAImage* background,
                             std::vector<CaptionCue> cues, std::optional<std::string> title, int fps)
    : width_(std::max(1, width)), height_(std::max(1, height)), color_(color), cues_(std::move(cues)),
      title_(std::move(title)), fps_(std::max(1, fps)) {
    fixedLayer_.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_, height_));
    Context cr(cairo_create(fixedLayer_.get()));
    const double W = width_, H = height_, M = std::min(W, H);

    cairo_set_source_rgb(cr.get(), 17 / 255.0, 17 / 255.0, 22 / 255.0);
    cairo_paint(cr.get());

    if (background && background->width > 0 && background->height > 0) {
        // A source surface: cairo only reads its pixels.
        cairo_surface_t* img = cairo_image_surface_create_for_data(
            const_cast<std::uint8_t*>(background->pixels.data()), CAIRO_FORMAT_ARGB32, background->width,
            background->height, background->stride);
        if (cairo_surface_status(img) == CAIRO_STATUS_SUCCESS) {
            // Cover the frame, cropping the overhang; never letterbox.
            const double s = std::max(W / background->width, H / background->height);
            const double dw = background->width * s, dh = background->height * s;
            cairo_save(cr.get());
            cairo_translate(cr.get(), (W - dw) / 2, (H - dh) / 2);
            cairo_scale(cr.get(), s, s);
            cairo_set_source_surface(cr.get(), img, 0, 0);
            cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_BEST);
            cairo_paint(cr.get());
            cairo_restore(cr.get());
            cairo_set_source_rgba(cr.get(), 0, 0, 0, 0.45);
            cairo_paint(cr.get());
        }
        cairo_surface_destroy(img);
    }

    if (title_ && !title_->empty()) {
        const double boxWidth = 0.84 * W;
        Layout layout = makeLayout(cr.get(), *title_, 0.05 * M, boxWidth);
        int lw = 0, lh = 0;
        pango_layout_get_pixel_size(layout.get(), &lw, &lh);
        const double h = std::ceil(static_cast<double>(lh));
        // The box's middle lies at 86 % of the height from the bottom.
        cairo_set_source_rgba(cr.get(), 1, 1, 1, 0.95);
        cairo_move_to(cr.get(), 0.5 * W - 0.42 * W, H - (0.86 * H + h / 2));
        pango_cairo_show_layout(cr.get(), layout.get());
    }
    cairo_surface_flush(fixedLayer_.get());
}

FrameRenderer::~FrameRenderer() = default;

float FrameRenderer::barLevel(const std::vector<float>& envelope, int bar, int frame) {
    const int d = std::abs(bar - kBars / 2);
    const long long k = static_cast<long long>(frame) - 2LL * d;
    if (k >= 0 && k < static_cast<long long>(envelope.size())) return envelope[static_cast<std::size_t>(k)];
    if (k < 0 && !envelope.empty()) return envelope[0];
    return 0;
}

std::optional<std::size_t> FrameRenderer::visibleCue(int frame) const {
    const double t = static_cast<double>(frame) / fps_;
    const double u = t + 0.05;
    for (std::size_t i = cues_.size(); i-- > 0;) {
        if (cues_[i].start() <= u) {
            if (t < cues_[i].end() + 0.6) return i;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void FrameRenderer::drawCaption(void* context, const CaptionCue& cue, double t) const {
    cairo_t* cr = static_cast<cairo_t*>(context);
    const double W = width_, H = height_, M = std::min(W, H);
    const double u = t + 0.05;
    std::string text;
    PangoAttrList* attrs = pango_attr_list_new();
    const RGBColor white{1, 1, 1};
    for (std::size_t i = 0; i < cue.words.size(); ++i) {
        const CaptionWord& w = cue.words[i];
        const std::size_t begin = text.size();
        text += w.text;
        if (i + 1 < cue.words.size()) text += ' ';
        const bool spoken = w.start <= u;
        const bool current = spoken && (i + 1 == cue.words.size() || cue.words[i + 1].start > u);
        if (current)
            addColor(attrs, color_, 1.0, begin, text.size());
        else
            addColor(attrs, white, spoken ? 1.0 : 0.7, begin, text.size());
    }
    const double F = 0.062 * M;
    const double boxWidth = 0.82 * W;
    Layout layout = makeLayout(cr, text, F, boxWidth);
    pango_layout_set_attributes(layout.get(), attrs);
    pango_attr_list_unref(attrs);
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(layout.get(), &ink, &logical);
    const double ws = logical.width;
    const double D = std::ceil(static_cast<double>(logical.height));
    const double q = 0.35 * F;
    // Backdrop hugging the text's width; its middle at 24 % from the bottom.
    cairo_new_path(cr);
    roundedRect(cr, 0.5 * W - ws / 2 - q, H - (0.24 * H - D / 2 - 0.6 * q) - (D + 1.2 * q), ws + 2 * q,
                D + 1.2 * q, q);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
    cairo_fill(cr);
    cairo_move_to(cr, 0.5 * W - 0.41 * W, H - (0.24 * H + D / 2));
    cairo_set_source_rgb(cr, 1, 1, 1);
    pango_cairo_show_layout(cr, layout.get());
}

void FrameRenderer::draw(std::uint8_t* pixels, int stride, const std::vector<float>& envelope, int frame,
                         int totalFrames) const {
    if (!pixels || stride < cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width_)) return;
    cairo_surface_t* raw =
        cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width_, height_, stride);
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(raw);
    if (cairo_surface_status(raw) != CAIRO_STATUS_SUCCESS) return;

    // The unchanging layer, copied row by row.
    const std::uint8_t* src = cairo_image_surface_get_data(fixedLayer_.get());
    const int srcStride = cairo_image_surface_get_stride(fixedLayer_.get());
    const std::size_t rowBytes = static_cast<std::size_t>(width_) * 4;
    for (int y = 0; y < height_; ++y)
        std::memcpy(pixels + static_cast<std::size_t>(y) * stride, src + static_cast<std::size_t>(y) * srcStride,
                    rowBytes);
    cairo_surface_mark_dirty(raw);

    Context cr(cairo_create(raw));
    const double W = width_, H = height_;

    // Waveform: 41 rounded bars, the middle one the current level, each step
    // outward two frames older, mirrored.
    const double g = 0.006 * W, S = 0.86 * W;
    const double b = (S - 40 * g) / kBars, p = b + g, x0 = 0.07 * W;
    const bool captions = !cues_.empty();
    const double A = captions ? 0.24 * H : 0.30 * H;
    const double yc = captions ? 0.56 * H : 0.50 * H;
    cairo_new_path(cr.get());
    for (int i = 0; i < kBars; ++i) {
        const int d = std::abs(i - kBars / 2);
        const double v = barLevel(envelope, i, frame);
        const double h = std::max(b, (1.0 - d / 41.0) * v * A);
        roundedRect(cr.get(), x0 + i * p, H - (yc + h / 2), b, h, b / 2);
    }
    cairo_set_fill_rule(cr.get(), CAIRO_FILL_RULE_WINDING);
    cairo_set_source_rgb(cr.get(), color_.red, color_.green, color_.blue);
    cairo_fill(cr.get());

    if (captions) {
        if (const auto cue = visibleCue(frame))
            drawCaption(cr.get(), cues_[*cue], static_cast<double>(frame) / fps_);
    }

    // Progress bar: track and fill, 6 pixels high, 8 % above the bottom.
    const double f = static_cast<double>(frame + 1) / std::max(totalFrames, 1);
    const double top = H - 0.08 * H - 6;
    cairo_new_path(cr.get());
    cairo_rectangle(cr.get(), 0.07 * W, top, 0.86 * W, 6);
    cairo_set_source_rgba(cr.get(), 1, 1, 1, 0.18);
    cairo_fill(cr.get());
    cairo_rectangle(cr.get(), 0.07 * W, top, 0.86 * W * f, 6);
    cairo_set_source_rgb(cr.get(), color_.red, color_.green, color_.blue);
    cairo_fill(cr.get());
    cairo_surface_flush(raw);
}

} // namespace episode
