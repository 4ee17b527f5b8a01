// NV12Converter's vector loop for AVX2: 32 pixels a step. This file alone is
// built for AVX2 (see Recorder/CMakeLists.txt); NV12Converter calls it only on
// processors that have it.
#include "platform/core/NV12ConverterKernel.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace corvessa {

namespace {

// SSE2's operations on two 16-byte lanes at once.
struct Avx2 {
    using Reg = __m256i;
    static constexpr int pixels = 8; // a load
    static Reg load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(uint8_t* p, Reg v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static Reg weights(int b, int g, int r)
    {
        return _mm256_setr_epi16(short(b), short(g), short(r), 0, short(b), short(g), short(r), 0, short(b), short(g),
                                 short(r), 0, short(b), short(g), short(r), 0);
    }
    static Reg set32(int v) { return _mm256_set1_epi32(v); }
    static Reg unpacklo8(Reg v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
    static Reg unpackhi8(Reg v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }
    static Reg add16(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg add32(Reg a, Reg b) { return _mm256_add_epi32(a, b); }
    static Reg madd(Reg a, Reg b) { return _mm256_madd_epi16(a, b); }
    template <int n>
    static Reg srai32(Reg v) { return _mm256_srai_epi32(v, n); }
    static Reg srli8bytes(Reg v) { return _mm256_srli_si256(v, 8); }
    static Reg packs32(Reg a, Reg b) { return _mm256_packs_epi32(a, b); }
    static Reg packus16(Reg a, Reg b) { return _mm256_packus_epi16(a, b); }
    static Reg unpacklo32(Reg a, Reg b) { return _mm256_unpacklo_epi32(a, b); }
    static Reg unpackhi32(Reg a, Reg b) { return _mm256_unpackhi_epi32(a, b); }
    static Reg unpacklo64(Reg a, Reg b) { return _mm256_unpacklo_epi64(a, b); }
    static Reg evens(Reg a, Reg b)
    {
        return _mm256_castps_si256(
            _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
    }
    static Reg odds(Reg a, Reg b)
    {
        return _mm256_castps_si256(
            _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
    }
    // Packing works lane by lane, so the 4-byte groups of a result come out
    // as 0, 2, 4, 6 | 1, 3, 5, 7.
    static Reg inOrder(Reg v) { return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)); }
};

} // namespace

int convertNV12RowsAvx2(const NV12Rows& rows, int width, uint8_t* y0, uint8_t* y1, uint8_t* uv)
{
    return convertRowsVector<Avx2>(rows, width, y0, y1, uv);
}

} // namespace corvessa

#endif
