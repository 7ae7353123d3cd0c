// Laplacian-pyramid exposure fusion in 32-bit floats. Each frame is weighted
// per pixel by local contrast, saturation and closeness to mid-grey; the
// frames' Laplacian pyramids are blended with Gaussian pyramids of the
// weights and the blend is collapsed into an 8-bit picture.
//
// Memory: the accumulators (three colour pyramids and the weight sums) live
// for the whole call; one frame's scratch (its weight pyramid, one channel's
// Gaussian pyramid and a half-size line buffer) is allocated once and reused
// for every frame, and only one decoded frame is held at a time.

#include "image/photo/BracketMerger.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

#include "image/photo/ExposureFusionDetail.h"

namespace image {

namespace {

struct Level {
    int w = 0;
    int h = 0;
    std::size_t offset = 0;
    std::size_t size() const { return std::size_t(w) * std::size_t(h); }
};

// Level sizes, each (w + 1) / 2 by (h + 1) / 2 of the one above, packed one
// after another in a single buffer.
struct Pyramid {
    std::vector<Level> levels;
    std::size_t total = 0;
    std::size_t scratch = 0; // floats the reduce/expand line buffer needs

    Pyramid(int w, int h, int depth) {
        for (int l = 0; l < depth; ++l) {
            levels.push_back(Level{w, h, total});
            total += std::size_t(w) * std::size_t(h);
            const int w2 = (w + 1) / 2, h2 = (h + 1) / 2;
            scratch = std::max({scratch, std::size_t(w2) * std::size_t(h), std::size_t(w) * std::size_t(h2)});
            w = w2;
            h = h2;
        }
    }
};

// exp(-(v - 0.5)^2 / 0.08) for every byte value v / 255: the well-exposedness
// of one channel.
const std::array<float, 256>& exposednessTable() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const float v = static_cast<float>(i) / 255.0f - 0.5f;
            t[std::size_t(i)] = std::exp(-(v * v) / 0.08f);
        }
        return t;
    }();
    return table;
}

// Fills `grey` with (r + g + b) / 3 and `weight` with the frame's weights:
// (saturation + 0.02) x well-exposedness, then x (|laplacian of grey| + 0.01)
// + 1e-6, neighbours beyond the edge clamped.
void frameWeights(const cv::Mat& rgba, float* grey, float* weight) {
    const int w = rgba.cols, h = rgba.rows;
    const auto& wellExposed = exposednessTable();
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* p = rgba.ptr<std::uint8_t>(y);
        float* g = grey + std::size_t(y) * std::size_t(w);
        float* wt = weight + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x, p += 4) {
            const float r = p[0] / 255.0f, gr = p[1] / 255.0f, b = p[2] / 255.0f;
            const float mean = (r + gr + b) / 3.0f;
            const float dr = r - mean, dg = gr - mean, db = b - mean;
            const float saturation = std::sqrt((dr * dr + dg * dg + db * db) / 3.0f);
            g[x] = mean;
            wt[x] = (saturation + 0.02f) * (wellExposed[p[0]] * wellExposed[p[1]] * wellExposed[p[2]]);
        }
    }
    for (int y = 0; y < h; ++y) {
        const float* up = grey + std::size_t(std::max(y - 1, 0)) * std::size_t(w);
        const float* here = grey + std::size_t(y) * std::size_t(w);
        const float* down = grey + std::size_t(std::min(y + 1, h - 1)) * std::size_t(w);
        float* wt = weight + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x) {
            const float left = here[std::max(x - 1, 0)], right = here[std::min(x + 1, w - 1)];
            const float lap = up[x] + down[x] + left + right - 4.0f * here[x];
            wt[x] = (std::abs(lap) + 0.01f) * wt[x] + 1e-6f;
        }
    }
}

void loadChannel(const cv::Mat& rgba, int channel, float* plane) {
    const int w = rgba.cols;
    for (int y = 0; y < rgba.rows; ++y) {
        const std::uint8_t* p = rgba.ptr<std::uint8_t>(y) + channel;
        float* out = plane + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x) out[x] = p[4 * x] / 255.0f;
    }
}

// Expands `src` (level below) to `dst`'s size and applies `rowFn(y, upRow)` to
// each expanded row, so the enlarged plane is never stored whole.
template <typename RowFn>
void expandRows(const float* src, int w, int h, int toW, int toH, float* tmp, std::vector<float>& row, RowFn rowFn);

} // namespace

namespace fusion {

void reduceInto(const float* src, int w, int h, float* dst, float* tmp) {
    if (w <= 0 || h <= 0) return;
    const int w2 = (w + 1) / 2, h2 = (h + 1) / 2;
    // Rows: w -> w2.
    for (int y = 0; y < h; ++y) {
        const float* x = src + std::size_t(y) * std::size_t(w);
        float* o = tmp + std::size_t(y) * std::size_t(w2);
        for (int j = 0; j < w2; ++j) {
            const int c = 2 * j;
            if (c >= 2 && c + 2 <= w - 1) {
                o[j] = (x[c - 2] + 4.0f * x[c - 1] + 6.0f * x[c] + 4.0f * x[c + 1] + x[c + 2]) * 0.0625f;
            } else {
                auto at = [&](int i) { return x[std::clamp(i, 0, w - 1)]; };
                o[j] = (at(c - 2) + 4.0f * at(c - 1) + 6.0f * at(c) + 4.0f * at(c + 1) + at(c + 2)) * 0.0625f;
            }
        }
    }
    // Columns: h -> h2, a whole row at a time.
    auto row = [&](int i) { return tmp + std::size_t(std::clamp(i, 0, h - 1)) * std::size_t(w2); };
    for (int i = 0; i < h2; ++i) {
        const int c = 2 * i;
        const float *a = row(c - 2), *b = row(c - 1), *m = row(c), *d = row(c + 1), *e = row(c + 2);
        float* o = dst + std::size_t(i) * std::size_t(w2);
        for (int x = 0; x < w2; ++x) o[x] = (a[x] + 4.0f * b[x] + 6.0f * m[x] + 4.0f * d[x] + e[x]) * 0.0625f;
    }
}

void expandInto(const float* src, int w, int h, float* dst, int toW, int toH, float* tmp) {
    std::vector<float> row;
    expandRows(src, w, h, toW, toH, tmp, row, [&](int y, const float* up) {
        std::copy(up, up + toW, dst + std::size_t(y) * std::size_t(toW));
    });
}

} // namespace fusion

namespace {

template <typename RowFn>
void expandRows(const float* src, int w, int h, int toW, int toH, float* tmp, std::vector<float>& row, RowFn rowFn) {
    if (w <= 0 || h <= 0 || toW <= 0 || toH <= 0) return;
    // Rows: w -> toW into tmp (toW x h).
    for (int y = 0; y < h; ++y) {
        const float* x = src + std::size_t(y) * std::size_t(w);
        float* o = tmp + std::size_t(y) * std::size_t(toW);
        for (int t = 0; t < toW; ++t) {
            const int j = std::min(t / 2, w - 1);
            const float next = x[std::min(j + 1, w - 1)];
            o[t] = (t % 2 == 0) ? (x[std::max(j - 1, 0)] + 6.0f * x[j] + next) * 0.125f : (x[j] + next) * 0.5f;
        }
    }
    // Columns: h -> toH, one target row at a time.
    row.resize(std::size_t(toW));
    auto line = [&](int i) { return tmp + std::size_t(std::clamp(i, 0, h - 1)) * std::size_t(toW); };
    for (int t = 0; t < toH; ++t) {
        const int j = std::min(t / 2, h - 1);
        const float* b = line(j);
        const float* c = line(j + 1);
        if (t % 2 == 0) {
            const float* a = line(j - 1);
            for (int x = 0; x < toW; ++x) row[std::size_t(x)] = (a[x] + 6.0f * b[x] + c[x]) * 0.125f;
        } else {
            for (int x = 0; x < toW; ++x) row[std::size_t(x)] = (b[x] + c[x]) * 0.5f;
        }
        rowFn(t, row.data());
    }
}

std::uint8_t toByte(float v) {
    const float scaled = v * 255.0f + 0.5f;
    if (!(scaled > 0.0f)) return 0;
    if (scaled >= 255.0f) return 255;
    return static_cast<std::uint8_t>(scaled);
}

} // namespace

int BracketMerger::pyramidDepth(int width, int height) {
    const int shorter = std::min(width, height);
    if (shorter <= 0) return 1;
    const int log2Floor = static_cast<int>(std::bit_width(static_cast<unsigned>(shorter))) - 1;
    return std::clamp(log2Floor - 2, 1, 10);
}

std::vector<float> BracketMerger::reduce(const std::vector<float>& plane, int width, int height) {
    if (width <= 0 || height <= 0 || plane.size() < std::size_t(width) * std::size_t(height)) return {};
    std::vector<float> tmp(std::size_t((width + 1) / 2) * std::size_t(height));
    std::vector<float> out(std::size_t((width + 1) / 2) * std::size_t((height + 1) / 2));
    fusion::reduceInto(plane.data(), width, height, out.data(), tmp.data());
    return out;
}

std::vector<float> BracketMerger::expand(const std::vector<float>& plane, int width, int height, int toWidth,
                                         int toHeight) {
    if (width <= 0 || height <= 0 || toWidth <= 0 || toHeight <= 0 ||
        plane.size() < std::size_t(width) * std::size_t(height))
        return {};
    std::vector<float> tmp(std::size_t(toWidth) * std::size_t(height));
    std::vector<float> out(std::size_t(toWidth) * std::size_t(toHeight));
    fusion::expandInto(plane.data(), width, height, out.data(), toWidth, toHeight, tmp.data());
    return out;
}

Image BracketMerger::fuse(const std::vector<FrameSource>& frames, bool align) const {
    if (frames.empty()) throw MergeError::noImages();
    const int W = frames.front().width, H = frames.front().height;
    if (W < 16 || H < 16) throw MergeError::tooSmall();
    for (const auto& f : frames)
        if (f.width != W || f.height != H) throw MergeError::sizeMismatch();

    const int depth = pyramidDepth(W, H);
    const Pyramid pyr(W, H, depth);
    const auto& levels = pyr.levels;

    // Accumulators for the whole call.
    std::array<std::vector<float>, 3> blended;
    for (auto& b : blended) b.assign(pyr.total, 0.0f);
    std::vector<float> weightSum(pyr.total, 0.0f);
    // One frame's scratch, reused for every frame.
    std::vector<float> weights(pyr.total), gauss(pyr.total), tmp(pyr.scratch), row;

    std::optional<fusion::GreyCopy> reference;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        cv::Mat rgba;
        {
            cv::Mat rendered = frames[i].render ? frames[i].render() : cv::Mat();
            if (rendered.empty()) throw MergeError::renderFailed();
            rgba = fusion::toRGBA8(rendered);
        }
        if (rgba.cols != W || rgba.rows != H) throw MergeError::sizeMismatch();
        if (align && frames.size() > 1) {
            if (i == 0) {
                reference = fusion::reducedGrey(rgba, gauss.data());
                fusion::keepCentre(*reference);
            } else if (auto t = fusion::registerGreys(fusion::reducedGrey(rgba, gauss.data()), *reference)) {
                rgba = fusion::shifted(rgba, *t);
            }
        }

        frameWeights(rgba, gauss.data(), weights.data());
        for (int l = 0; l + 1 < depth; ++l)
            fusion::reduceInto(weights.data() + levels[l].offset, levels[l].w, levels[l].h,
                               weights.data() + levels[l + 1].offset, tmp.data());
        for (std::size_t k = 0; k < pyr.total; ++k) weightSum[k] += weights[k];

        for (int c = 0; c < 3; ++c) {
            loadChannel(rgba, c, gauss.data());
            float* acc = blended[std::size_t(c)].data();
            for (int l = 0; l + 1 < depth; ++l) {
                const Level& lv = levels[l];
                const Level& below = levels[l + 1];
                fusion::reduceInto(gauss.data() + lv.offset, lv.w, lv.h, gauss.data() + below.offset, tmp.data());
                const float* current = gauss.data() + lv.offset;
                const float* wt = weights.data() + lv.offset;
                float* out = acc + lv.offset;
                expandRows(gauss.data() + below.offset, below.w, below.h, lv.w, lv.h, tmp.data(), row,
                           [&](int y, const float* up) {
                               const std::size_t base = std::size_t(y) * std::size_t(lv.w);
                               for (int x = 0; x < lv.w; ++x)
                                   out[base + x] += (current[base + x] - up[x]) * wt[base + x];
                           });
            }
            const Level& last = levels[std::size_t(depth - 1)];
            for (std::size_t k = last.offset; k < last.offset + last.size(); ++k) acc[k] += gauss[k] * weights[k];
        }
    }
    weights = {};
    gauss = {};

    for (auto& sum : weightSum) sum = std::max(sum, 1e-12f);
    Image out;
    out.pixels.create(H, W, CV_8UC4);
    for (int c = 0; c < 3; ++c) {
        float* acc = blended[std::size_t(c)].data();
        for (std::size_t k = 0; k < pyr.total; ++k) acc[k] /= weightSum[k];
        for (int l = depth - 2; l >= 0; --l) {
            const Level& lv = levels[std::size_t(l)];
            const Level& below = levels[std::size_t(l + 1)];
            float* target = acc + lv.offset;
            expandRows(acc + below.offset, below.w, below.h, lv.w, lv.h, tmp.data(), row,
                       [&](int y, const float* up) {
                           float* t = target + std::size_t(y) * std::size_t(lv.w);
                           for (int x = 0; x < lv.w; ++x) t[x] += up[x];
                       });
        }
        for (int y = 0; y < H; ++y) {
            std::uint8_t* p = out.pixels.ptr<std::uint8_t>(y) + c;
            const float* v = acc + std::size_t(y) * std::size_t(W);
            for (int x = 0; x < W; ++x) p[4 * x] = toByte(v[x]);
        }
        blended[std::size_t(c)] = {};
    }
    for (int y = 0; y < H; ++y) {
        std::uint8_t* p = out.pixels.ptr<std::uint8_t>(y) + 3;
        for (int x = 0; x < W; ++x) p[4 * x] = 255;
    }
    return out;
}

} // namespace image
