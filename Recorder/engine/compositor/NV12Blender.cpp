#include "engine/compositor/NV12Blender.h"

#include <algorithm>
#include <cstring>
#include <vector>

// ThreadSanitizer instruments the clones' resolver, which the loader runs before
// the sanitizer is set up (the program crashes at load): such builds get the
// portable loop only.
#if defined(__SANITIZE_THREAD__)
#define CORVESSA_AVX2_CLONES
#else
#define CORVESSA_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#endif

namespace corvessa {

namespace {

// BT.709 in video range as whole numbers: luma 219 * (Kr, Kg, Kb), chroma 224
// times the Cb and Cr rows of the matrix. Each chroma row sums to zero, so grey
// stays at 128. With the colour kept at or below the alpha (as premultiplied
// colour is), every sum below stays within 0...65025, so the whole blend runs
// in 16-bit lanes, twice as many per vector as 32-bit ones.
constexpr uint16_t kYR = 46;
constexpr uint16_t kYG = 157;
constexpr uint16_t kYB = 16;
constexpr uint16_t kCbR = 26; // subtracted
constexpr uint16_t kCbG = 86; // subtracted
constexpr uint16_t kCbB = 112;
constexpr uint16_t kCrR = 112;
constexpr uint16_t kCrG = 102; // subtracted
constexpr uint16_t kCrB = 10;  // subtracted

// Pixels per run: a multiple of every vector width the compiler may pick, and
// short enough that skipping transparent runs pays off on sparse ink.
constexpr int kRun = 32;

// x / 255 rounded, exact for 0 <= x <= 65025.
[[gnu::always_inline]] inline uint16_t div255(uint16_t x)
{
    x = uint16_t(x + 128);
    return uint16_t((x + (x >> 8)) >> 8);
}

[[gnu::always_inline]] inline uint16_t atMost(uint16_t v, uint16_t limit)
{
    return v < limit ? v : limit;
}

// Sums wrap in 16 bits on purpose: the chroma terms go below zero on the way, the
// result never does.
[[gnu::always_inline]] inline uint8_t blendY(uint8_t y, uint16_t a, uint16_t r, uint16_t g, uint16_t b)
{
    return uint8_t(div255(uint16_t(y * (255 - a) + 16 * a + kYR * r + kYG * g + kYB * b)));
}

[[gnu::always_inline]] inline uint8_t blendCb(uint8_t cb, uint16_t a, uint16_t r, uint16_t g, uint16_t b)
{
    return uint8_t(div255(uint16_t(cb * (255 - a) + 128 * a + kCbB * b - kCbR * r - kCbG * g)));
}

[[gnu::always_inline]] inline uint8_t blendCr(uint8_t cr, uint16_t a, uint16_t r, uint16_t g, uint16_t b)
{
    return uint8_t(div255(uint16_t(cr * (255 - a) + 128 * a + kCrR * r - kCrG * g - kCrB * b)));
}

// One run of layer pixels split into channels, colour capped at alpha.
struct Channels {
    uint16_t a[kRun];
    uint16_t r[kRun];
    uint16_t g[kRun];
    uint16_t b[kRun];
};

[[gnu::always_inline]] inline void split(const uint32_t* __restrict px, Channels& c)
{
    for (int j = 0; j < kRun; ++j) {
        const uint32_t v = px[j];
        const auto a = uint16_t(v >> 24);
        c.a[j] = a;
        c.r[j] = atMost(uint16_t((v >> 16) & 0xff), a);
        c.g[j] = atMost(uint16_t((v >> 8) & 0xff), a);
        c.b[j] = atMost(uint16_t(v & 0xff), a);
    }
}

[[gnu::always_inline]] inline void blendLumaRun(uint8_t* __restrict y, const Channels& c)
{
    for (int j = 0; j < kRun; ++j)
        y[j] = blendY(y[j], c.a[j], c.r[j], c.g[j], c.b[j]);
}

// The pixel p of a premultiplied layer, channel by channel, colour capped at alpha.
struct Pixel {
    uint16_t a, r, g, b;
    explicit Pixel(uint32_t p)
        : a(uint16_t(p >> 24)),
          r(atMost(uint16_t((p >> 16) & 0xff), a)),
          g(atMost(uint16_t((p >> 8) & 0xff), a)),
          b(atMost(uint16_t(p & 0xff), a))
    {
    }
};

// One 2x2 block the slow way, for the odd pixels after the runs.
void blendBlock(uint8_t* y0, uint8_t* y1, uint8_t* uv, const uint32_t* l0, const uint32_t* l1)
{
    const Pixel p[4] = {Pixel(l0[0]), Pixel(l0[1]), Pixel(l1[0]), Pixel(l1[1])};
    y0[0] = blendY(y0[0], p[0].a, p[0].r, p[0].g, p[0].b);
    y0[1] = blendY(y0[1], p[1].a, p[1].r, p[1].g, p[1].b);
    y1[0] = blendY(y1[0], p[2].a, p[2].r, p[2].g, p[2].b);
    y1[1] = blendY(y1[1], p[3].a, p[3].r, p[3].g, p[3].b);
    const auto mean = [&p](uint16_t Pixel::*ch) {
        return uint16_t((p[0].*ch + p[1].*ch + p[2].*ch + p[3].*ch + 2) >> 2);
    };
    const uint16_t a = mean(&Pixel::a);
    const uint16_t r = mean(&Pixel::r);
    const uint16_t g = mean(&Pixel::g);
    const uint16_t b = mean(&Pixel::b);
    uv[0] = blendCb(uv[0], a, r, g, b);
    uv[1] = blendCr(uv[1], a, r, g, b);
}

// Two luma rows and their chroma row under two layer rows, `width` pixels (even).
// Built for AVX2 as well, picked at load time where the processor has it.
CORVESSA_AVX2_CLONES void blendRows(uint8_t* __restrict y0, uint8_t* __restrict y1, uint8_t* __restrict uv,
                                    const uint32_t* __restrict l0, const uint32_t* __restrict l1, int width)
{
    int x = 0;
    for (; x + kRun <= width; x += kRun) {
        uint32_t any = 0;
        for (int j = 0; j < kRun; ++j)
            any |= l0[x + j] | l1[x + j];
        if ((any >> 24) == 0)
            continue;
        Channels c0;
        Channels c1;
        split(l0 + x, c0);
        split(l1 + x, c1);
        blendLumaRun(y0 + x, c0);
        blendLumaRun(y1 + x, c1);
        // Each chroma pair takes the mean of its 2x2 block.
        uint16_t a[kRun / 2], r[kRun / 2], g[kRun / 2], b[kRun / 2];
        for (int j = 0; j < kRun / 2; ++j) {
            const int i = 2 * j;
            a[j] = uint16_t((c0.a[i] + c0.a[i + 1] + c1.a[i] + c1.a[i + 1] + 2) >> 2);
            r[j] = uint16_t((c0.r[i] + c0.r[i + 1] + c1.r[i] + c1.r[i + 1] + 2) >> 2);
            g[j] = uint16_t((c0.g[i] + c0.g[i + 1] + c1.g[i] + c1.g[i + 1] + 2) >> 2);
            b[j] = uint16_t((c0.b[i] + c0.b[i + 1] + c1.b[i] + c1.b[i + 1] + 2) >> 2);
        }
        uint8_t* pair = uv + x;
        for (int j = 0; j < kRun / 2; ++j) {
            pair[2 * j] = blendCb(pair[2 * j], a[j], r[j], g[j], b[j]);
            pair[2 * j + 1] = blendCr(pair[2 * j + 1], a[j], r[j], g[j], b[j]);
        }
    }
    for (; x < width; x += 2) {
        if (((l0[x] | l0[x + 1] | l1[x] | l1[x + 1]) >> 24) != 0)
            blendBlock(y0 + x, y1 + x, uv + x, l0 + x, l1 + x);
    }
}

} // namespace

NV12Blender::YCbCr NV12Blender::toYCbCr(QRgb rgb)
{
    const Pixel p(0xff000000u | (rgb & 0x00ffffffu));
    return {blendY(0, p.a, p.r, p.g, p.b), blendCb(0, p.a, p.r, p.g, p.b), blendCr(0, p.a, p.r, p.g, p.b)};
}

void NV12Blender::blend(const NV12Planes& frame, const QImage& layer, QPoint at)
{
    if (!frame.isValid() || layer.isNull())
        return;
    if (layer.format() != QImage::Format_ARGB32_Premultiplied) {
        blend(frame, layer.convertToFormat(QImage::Format_ARGB32_Premultiplied), at);
        return;
    }
    const QRect placed(at, layer.size());
    const QRect clip = placed & frame.rect();
    if (clip.isEmpty())
        return;
    // Widen to whole chroma blocks; the frame's size is even, so this stays inside it.
    const QRect even(QPoint(clip.left() & ~1, clip.top() & ~1),
                     QPoint(((clip.right() + 2) & ~1) - 1, ((clip.bottom() + 2) & ~1) - 1));
    const auto stride = ptrdiff_t(layer.bytesPerLine() / 4);
    if (even == clip) {
        const auto* first = reinterpret_cast<const uint32_t*>(layer.constScanLine(clip.top() - at.y())) +
                            (clip.left() - at.x());
        blendAligned(frame, first, stride, clip);
        return;
    }
    // An odd edge: pad the clipped part with transparent pixels to whole blocks.
    std::vector<uint32_t> padded(size_t(even.width()) * size_t(even.height()), 0);
    for (int row = clip.top(); row <= clip.bottom(); ++row) {
        const auto* src = reinterpret_cast<const uint32_t*>(layer.constScanLine(row - at.y())) + (clip.left() - at.x());
        uint32_t* dst = padded.data() + size_t(row - even.top()) * size_t(even.width()) + (clip.left() - even.left());
        std::memcpy(dst, src, size_t(clip.width()) * 4);
    }
    blendAligned(frame, padded.data(), even.width(), even);
}

void NV12Blender::blendAligned(const NV12Planes& frame, const uint32_t* pixels, ptrdiff_t stride, const QRect& rect)
{
    const NV12Planes part = frame.sub(rect);
    for (int row = 0; row < part.height; row += 2) {
        uint8_t* y0 = part.y + ptrdiff_t(row) * part.yStride;
        const uint32_t* l0 = pixels + ptrdiff_t(row) * stride;
        blendRows(y0, y0 + part.yStride, part.uv + ptrdiff_t(row / 2) * part.uvStride, l0, l0 + stride, part.width);
    }
}

void NV12Blender::copy(const NV12Planes& from, const NV12Planes& to)
{
    for (int row = 0; row < from.height; ++row)
        std::memcpy(to.y + ptrdiff_t(row) * to.yStride, from.y + ptrdiff_t(row) * from.yStride, size_t(from.width));
    for (int row = 0; row < from.height / 2; ++row)
        std::memcpy(to.uv + ptrdiff_t(row) * to.uvStride, from.uv + ptrdiff_t(row) * from.uvStride,
                    size_t(from.width));
}

void NV12Blender::fill(const NV12Planes& frame, YCbCr colour)
{
    for (int row = 0; row < frame.height; ++row)
        std::memset(frame.y + ptrdiff_t(row) * frame.yStride, colour.y, size_t(frame.width));
    for (int row = 0; row < frame.height / 2; ++row) {
        uint8_t* uv = frame.uv + ptrdiff_t(row) * frame.uvStride;
        for (int x = 0; x < frame.width; x += 2) {
            uv[x] = colour.cb;
            uv[x + 1] = colour.cr;
        }
    }
}

void NV12Blender::mirror(const NV12Planes& frame)
{
    for (int row = 0; row < frame.height; ++row) {
        uint8_t* y = frame.y + ptrdiff_t(row) * frame.yStride;
        std::reverse(y, y + frame.width);
    }
    for (int row = 0; row < frame.height / 2; ++row) {
        uint8_t* uv = frame.uv + ptrdiff_t(row) * frame.uvStride;
        // Reverse the order of the CbCr pairs, keeping each pair intact.
        for (int i = 0, j = frame.width - 2; i < j; i += 2, j -= 2) {
            std::swap(uv[i], uv[j]);
            std::swap(uv[i + 1], uv[j + 1]);
        }
    }
}

} // namespace corvessa
