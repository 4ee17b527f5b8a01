#pragma once

// NV12Converter's arithmetic, shared by its plain loop and its vector loops
// (one file each, as the AVX2 one is compiled for that instruction set). Only
// NV12Converter's files include it. Apart from the plain `NV12Rows`, everything
// here stays inside the file that includes it, so no code built for AVX2 can
// stand in for the other file's.

#include <cstddef>
#include <cstdint>

namespace corvessa {

// The rows one chroma row is made of: above, top, bottom and below the block,
// the picture's edge rows repeated. `bottom` is null on an odd picture's last
// row (its luma is not written).
struct NV12Rows {
    const uint8_t* above;
    const uint8_t* top;
    const uint8_t* bottom;
    const uint8_t* below;
};

// The vector loop built for AVX2 (in NV12ConverterAvx2.cpp); call it only where
// the processor has AVX2. Returns the first column left over.
int convertNV12RowsAvx2(const NV12Rows& rows, int width, uint8_t* y0, uint8_t* y1, uint8_t* uv);

namespace {

// BT.709 weights and the video-range scales.
constexpr double kr = 0.2126;
constexpr double kb = 0.0722;
constexpr double kg = 1.0 - kr - kb;
constexpr double lumaScale = 219.0 / 255.0;
constexpr double chromaScale = 224.0 / 255.0;
constexpr double cbK = chromaScale / (2 * (1 - kb));
constexpr double crK = chromaScale / (2 * (1 - kr));

constexpr int roundToInt(double v)
{
    return int(v < 0 ? v - 0.5 : v + 0.5);
}

// Luma weights in 1/32768ths. Chroma weights in 1/4096ths, as they apply to
// the weighed sum of eight pixels (two columns, rows weighed 1, 3, 3, 1): the
// result is in 1/65536ths. In 16 bits all fit the vector units' multiply-add of
// pairs, and all round to within a twentieth of a level of the formula.
constexpr int kShift = 15;
constexpr int kChromaShift = 16;
constexpr int kChromaWeight = 16; // the eight pixels' weights added up
constexpr int yR = roundToInt(kr * lumaScale * (1 << kShift));
constexpr int yG = roundToInt(kg * lumaScale * (1 << kShift));
constexpr int yB = roundToInt(kb * lumaScale * (1 << kShift));
constexpr double cScale = double(1 << kChromaShift) / kChromaWeight;
constexpr int cbR = roundToInt(-kr * cbK * cScale);
constexpr int cbG = roundToInt(-kg * cbK * cScale);
constexpr int cbB = roundToInt((1 - kb) * cbK * cScale);
constexpr int crR = roundToInt((1 - kr) * crK * cScale);
constexpr int crG = roundToInt(-kg * crK * cScale);
constexpr int crB = roundToInt(-kb * crK * cScale);
// A grey has no colour: the chroma weights of each row cancel.
static_assert(cbR + cbG + cbB == 0 && crR + crG + crB == 0);
constexpr int yOffset = (16 << kShift) + (1 << (kShift - 1));
constexpr int cOffset = (128 << kChromaShift) + (1 << (kChromaShift - 1));

inline const uint8_t* bottomOrTop(const NV12Rows& rows)
{
    return rows.bottom ? rows.bottom : rows.top;
}

// The vector loop over a row pair, for a vector unit V of 16 or 32 bytes (V
// names its operations after SSE2's, each working within 16-byte lanes).
// Returns the first column left over.
template <class V>
inline int convertRowsVector(const NV12Rows& rows, int width, uint8_t* y0, uint8_t* y1, uint8_t* uv)
{
    using R = typename V::Reg;
    constexpr int step = 4 * V::pixels; // four loads a row
    // In memory B, G, R, X: each pair of 16-bit lanes is multiplied and added.
    const R lumaWeights = V::weights(yB, yG, yR);
    const R cbWeights = V::weights(cbB, cbG, cbR);
    const R crWeights = V::weights(crB, crG, crR);
    const R lumaOffset = V::set32(yOffset);
    const R chromaOffset = V::set32(cOffset);
    const uint8_t* bottomRow = bottomOrTop(rows);

    // Sums the pairs of 32-bit lanes of a and b within each 16-byte lane.
    const auto pairSums = [](R a, R b) { return V::add32(V::evens(a, b), V::odds(a, b)); };
    struct Wide {
        R lo, hi;
    };
    const auto widen = [](const uint8_t* p) {
        const R v = V::load(p);
        return Wide{V::unpacklo8(v), V::unpackhi8(v)};
    };
    const auto luma = [&](const Wide(&w)[4]) {
        R s[4];
        for (int k = 0; k < 4; ++k) {
            s[k] = pairSums(V::madd(w[k].lo, lumaWeights), V::madd(w[k].hi, lumaWeights));
            s[k] = V::template srai32<kShift>(V::add32(s[k], lumaOffset));
        }
        return V::inOrder(V::packus16(V::packs32(s[0], s[1]), V::packs32(s[2], s[3])));
    };

    int x = 0;
    for (; x + step <= width; x += step) {
        Wide top[4];
        Wide bottom[4];
        for (int k = 0; k < 4; ++k) {
            top[k] = widen(rows.top + 4 * (x + V::pixels * k));
            bottom[k] = widen(bottomRow + 4 * (x + V::pixels * k));
        }
        V::store(y0 + x, luma(top));
        if (rows.bottom)
            V::store(y1 + x, luma(bottom));
        // Each block's weighed sums (under 4096), two blocks to a 16-byte lane:
        // above + 3 (top + bottom) + below, then the two columns added.
        R blocks[4];
        for (int k = 0; k < 4; ++k) {
            const Wide above = widen(rows.above + 4 * (x + V::pixels * k));
            const Wide below = widen(rows.below + 4 * (x + V::pixels * k));
            const R midLo = V::add16(top[k].lo, bottom[k].lo);
            const R midHi = V::add16(top[k].hi, bottom[k].hi);
            const R lo = V::add16(V::add16(above.lo, below.lo), V::add16(midLo, V::add16(midLo, midLo)));
            const R hi = V::add16(V::add16(above.hi, below.hi), V::add16(midHi, V::add16(midHi, midHi)));
            blocks[k] = V::unpacklo64(V::add16(lo, V::srli8bytes(lo)), V::add16(hi, V::srli8bytes(hi)));
        }
        R pairs[2];
        for (int h = 0; h < 2; ++h) {
            const R a = blocks[2 * h];
            const R b = blocks[2 * h + 1];
            R cb = pairSums(V::madd(a, cbWeights), V::madd(b, cbWeights));
            R cr = pairSums(V::madd(a, crWeights), V::madd(b, crWeights));
            cb = V::template srai32<kChromaShift>(V::add32(cb, chromaOffset));
            cr = V::template srai32<kChromaShift>(V::add32(cr, chromaOffset));
            pairs[h] = V::packs32(V::unpacklo32(cb, cr), V::unpackhi32(cb, cr));
        }
        V::store(uv + x, V::inOrder(V::packus16(pairs[0], pairs[1])));
    }
    return x;
}

} // namespace
} // namespace corvessa
