#include "platform/core/MediaTime.h"

#include "platform/core/SampleBuffer.h"

#include <cmath>
#include <limits>
#include <numeric>

namespace corvessa {

using i128 = __int128;

namespace {

// Rounds num/den to the nearest integer, halves away from zero (den > 0).
i128 roundDiv(i128 num, i128 den)
{
    const i128 half = den / 2;
    return num >= 0 ? (num + half) / den : -((-num + half) / den);
}

int64_t clamp64(i128 v)
{
    if (v > std::numeric_limits<int64_t>::max())
        return std::numeric_limits<int64_t>::max();
    if (v < std::numeric_limits<int64_t>::min())
        return std::numeric_limits<int64_t>::min();
    return int64_t(v);
}

// The timescale two operands are brought to: their least common multiple when
// it fits, else the finer of the two.
int32_t commonScale(int32_t a, int32_t b)
{
    const int64_t l = std::lcm<int64_t>(a, b);
    if (l <= std::numeric_limits<int32_t>::max())
        return int32_t(l);
    return std::max(a, b);
}

i128 inScale(const MediaTime& t, int32_t scale)
{
    if (t.timescale() == scale)
        return t.value();
    const i128 num = i128(t.value()) * scale;
    if (num % t.timescale() == 0)
        return num / t.timescale();
    return roundDiv(num, t.timescale());
}

} // namespace

MediaTime MediaTime::fromSeconds(double seconds, int32_t timescale)
{
    if (!std::isfinite(seconds) || timescale <= 0)
        return {};
    // llround is undefined outside the int64 range; 2^63 is exactly representable.
    const double scaled = seconds * timescale;
    if (!(std::fabs(scaled) < 9223372036854775808.0))
        return {};
    return MediaTime(int64_t(std::llround(scaled)), timescale);
}

double MediaTime::seconds() const
{
    if (!m_valid)
        return std::numeric_limits<double>::quiet_NaN();
    return double(m_value) / double(m_timescale);
}

MediaTime MediaTime::convertScale(int32_t timescale) const
{
    if (!m_valid || timescale <= 0)
        return {};
    return MediaTime(clamp64(inScale(*this, timescale)), timescale);
}

MediaTime MediaTime::operator+(const MediaTime& other) const
{
    if (!m_valid || !other.m_valid)
        return {};
    const int32_t scale = commonScale(m_timescale, other.m_timescale);
    return MediaTime(clamp64(inScale(*this, scale) + inScale(other, scale)), scale);
}

MediaTime MediaTime::operator-(const MediaTime& other) const
{
    if (!m_valid || !other.m_valid)
        return {};
    const int32_t scale = commonScale(m_timescale, other.m_timescale);
    return MediaTime(clamp64(inScale(*this, scale) - inScale(other, scale)), scale);
}

MediaTime MediaTime::multiplied(int64_t num, int64_t den) const
{
    if (!m_valid || den == 0)
        return {};
    // Sign flips in 128 bits: negating INT64_MIN in 64 bits is undefined.
    i128 n = num;
    i128 d = den;
    if (d < 0) {
        n = -n;
        d = -d;
    }
    const i128 product = i128(m_value) * n;
    if (product % d == 0)
        return MediaTime(clamp64(product / d), m_timescale);
    // Fold the denominator into the timescale when that stays exact and in range;
    // the product itself must fit too, or clamping it would be far off.
    const i128 scale = i128(m_timescale) * d;
    if (scale <= std::numeric_limits<int32_t>::max() && product == i128(clamp64(product)))
        return MediaTime(int64_t(product), int32_t(scale));
    return MediaTime(clamp64(roundDiv(product, d)), m_timescale);
}

std::strong_ordering MediaTime::operator<=>(const MediaTime& other) const
{
    if (!m_valid || !other.m_valid)
        return int(m_valid) <=> int(other.m_valid);
    // Cross-multiplication in 128 bits is exact for any pair of valid times.
    const i128 a = i128(m_value) * other.m_timescale;
    const i128 b = i128(other.m_value) * m_timescale;
    return a < b ? std::strong_ordering::less : a > b ? std::strong_ordering::greater : std::strong_ordering::equal;
}

std::optional<SampleBuffer> MediaTime::retimed(const SampleBuffer& buffer, MediaTime target)
{
    if (buffer.m_timing.empty() || !target.isValid())
        return std::nullopt;
    const MediaTime offset = target - buffer.m_timing.front().presentationTime;
    if (!offset.isValid())
        return std::nullopt;
    SampleBuffer copy = buffer;
    for (auto& t : copy.m_timing) {
        t.presentationTime = t.presentationTime + offset;
        if (t.decodeTime.isNumeric())
            t.decodeTime = t.decodeTime + offset;
    }
    return copy;
}

std::optional<SampleBuffer> MediaTime::image(std::shared_ptr<PixelBuffer> pixels, MediaTime at, MediaTime duration)
{
    if (!pixels)
        return std::nullopt;
    return SampleBuffer::video(std::move(pixels), at, duration);
}

} // namespace corvessa
