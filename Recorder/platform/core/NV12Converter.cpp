#include "platform/core/NV12Converter.h"

#include "platform/core/NV12ConverterKernel.h"

#include <algorithm>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace corvessa {

namespace {

inline uint8_t lumaOf(const uint8_t* p)
{
    return uint8_t((yR * p[2] + yG * p[1] + yB * p[0] + yOffset) >> kShift);
}

// Luma of the block's rows and their chroma, from column `from` (even) to the end.
void convertRows(const NV12Rows& rows, int from, int width, uint8_t* y0, uint8_t* y1, uint8_t* uv)
{
    const uint8_t* src[4] = {rows.above, rows.top, bottomOrTop(rows), rows.below};
    constexpr int weight[4] = {1, 3, 3, 1};
    for (int x = from; x < width; x += 2) {
        const int x1 = std::min(x + 1, width - 1);
        y0[x] = lumaOf(rows.top + 4 * x);
        if (x1 != x)
            y0[x1] = lumaOf(rows.top + 4 * x1);
        if (rows.bottom) {
            y1[x] = lumaOf(rows.bottom + 4 * x);
            if (x1 != x)
                y1[x1] = lumaOf(rows.bottom + 4 * x1);
        }
        int sb = 0;
        int sg = 0;
        int sr = 0;
        for (int k = 0; k < 4; ++k) {
            const uint8_t* a = src[k] + 4 * x;
            const uint8_t* b = src[k] + 4 * x1;
            sb += weight[k] * (a[0] + b[0]);
            sg += weight[k] * (a[1] + b[1]);
            sr += weight[k] * (a[2] + b[2]);
        }
        uv[x] = uint8_t((cbR * sr + cbG * sg + cbB * sb + cOffset) >> kChromaShift);
        uv[x + 1] = uint8_t((crR * sr + crG * sg + crB * sb + cOffset) >> kChromaShift);
    }
}

#if defined(__x86_64__)

// SSE2, which every x86-64 processor has: 16 pixels a step.
struct Sse2 {
    using Reg = __m128i;
    static constexpr int pixels = 4; // a load
    static Reg load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(uint8_t* p, Reg v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static Reg weights(int b, int g, int r) { return _mm_setr_epi16(short(b), short(g), short(r), 0, short(b), short(g), short(r), 0); }
    static Reg set32(int v) { return _mm_set1_epi32(v); }
    static Reg unpacklo8(Reg v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
    static Reg unpackhi8(Reg v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }
    static Reg add16(Reg a, Reg b) { return _mm_add_epi16(a, b); }
    static Reg add32(Reg a, Reg b) { return _mm_add_epi32(a, b); }
    static Reg madd(Reg a, Reg b) { return _mm_madd_epi16(a, b); }
    template <int n>
    static Reg srai32(Reg v) { return _mm_srai_epi32(v, n); }
    static Reg srli8bytes(Reg v) { return _mm_srli_si128(v, 8); }
    static Reg packs32(Reg a, Reg b) { return _mm_packs_epi32(a, b); }
    static Reg packus16(Reg a, Reg b) { return _mm_packus_epi16(a, b); }
    static Reg unpacklo32(Reg a, Reg b) { return _mm_unpacklo_epi32(a, b); }
    static Reg unpackhi32(Reg a, Reg b) { return _mm_unpackhi_epi32(a, b); }
    static Reg unpacklo64(Reg a, Reg b) { return _mm_unpacklo_epi64(a, b); }
    static Reg evens(Reg a, Reg b)
    {
        return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
    }
    static Reg odds(Reg a, Reg b)
    {
        return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
    }
    static Reg inOrder(Reg v) { return v; }
};

#endif

} // namespace

bool NV12Converter::available(Loop loop)
{
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return loop != Loop::avx2 || avx2;
#else
    return loop == Loop::plain;
#endif
}

NV12Converter::Loop NV12Converter::fastest()
{
    return available(Loop::avx2) ? Loop::avx2 : available(Loop::sse2) ? Loop::sse2 : Loop::plain;
}

void NV12Converter::convert(Loop loop, const uint8_t* bgrx, ptrdiff_t stride, int width, int height, const Target& to)
{
    convertBand(loop, bgrx, stride, width, height, to, 0, height);
}

void NV12Converter::convertBand(Loop loop, const uint8_t* bgrx, ptrdiff_t stride, int width, int height,
                                const Target& to, int top, int bottom)
{
    if (!bgrx || !to.y || !to.uv || width <= 0 || height <= 0)
        return;
    // The pair starting at row 2p weighs rows 2p-1 to 2p+2.
    const int first = std::max(0, (top - 2) & ~1);
    const int end = std::min(height, (std::max(bottom, 0) & ~1) + 2);
    if (!available(loop))
        loop = Loop::plain;
    const auto row = [&](int y) { return bgrx + ptrdiff_t(std::clamp(y, 0, height - 1)) * stride; };
    for (int y = first; y < end; y += 2) {
        const bool pair = y + 1 < height;
        const NV12Rows rows{row(y - 1), row(y), pair ? row(y + 1) : nullptr, row(y + 2)};
        uint8_t* y0 = to.y + ptrdiff_t(y) * to.yStride;
        uint8_t* y1 = pair ? y0 + to.yStride : nullptr;
        uint8_t* uv = to.uv + ptrdiff_t(y / 2) * to.uvStride;
        int from = 0;
#if defined(__x86_64__)
        if (loop == Loop::avx2)
            from = convertNV12RowsAvx2(rows, width, y0, y1, uv);
        else if (loop == Loop::sse2)
            from = convertRowsVector<Sse2>(rows, width, y0, y1, uv);
#endif
        convertRows(rows, from, width, y0, y1, uv);
    }
}

NV12Converter::YCbCr NV12Converter::exact(double r, double g, double b)
{
    const double luma = kr * r + kg * g + kb * b;
    return {16 + luma * lumaScale, 128 + (b - luma) * cbK, 128 + (r - luma) * crK};
}

NV12Converter::YCbCr NV12Converter::exactAt(const uint8_t* bgrx, ptrdiff_t stride, int width, int height, int x,
                                             int y)
{
    const auto pixel = [&](int px, int py) {
        return bgrx + ptrdiff_t(std::clamp(py, 0, height - 1)) * stride + 4 * std::clamp(px, 0, width - 1);
    };
    const uint8_t* p = pixel(x, y);
    const double luma = exact(p[2], p[1], p[0]).y;
    const int bx = x & ~1;
    const int by = y & ~1;
    constexpr double weight[4] = {1, 3, 3, 1};
    double rgb[3] = {};
    for (int k = 0; k < 4; ++k) {
        for (int c = 0; c < 2; ++c) {
            const uint8_t* q = pixel(bx + c, by - 1 + k);
            for (int i = 0; i < 3; ++i)
                rgb[i] += weight[k] * q[2 - i] / kChromaWeight;
        }
    }
    const YCbCr chroma = exact(rgb[0], rgb[1], rgb[2]);
    return {luma, chroma.cb, chroma.cr};
}

} // namespace corvessa
