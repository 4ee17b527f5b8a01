#pragma once

#include <compare>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>

namespace corvessa {

class SampleBuffer;
class PixelBuffer;

// An exact rational time: value / timescale seconds. Times are compared and
// subtracted exactly (never through doubles), so that a pause cut or a frame
// time never drifts by rounding.
class MediaTime {
public:
    constexpr MediaTime() = default; // invalid
    constexpr MediaTime(int64_t value, int32_t timescale)
        : m_value(value), m_timescale(timescale), m_valid(timescale > 0) {}

    static constexpr MediaTime invalid() { return {}; }
    static constexpr MediaTime zero() { return {0, 1}; }
    // Nearest time in the given timescale (default: nanoseconds).
    static MediaTime fromSeconds(double seconds, int32_t timescale = 1000000000);

    constexpr bool isValid() const { return m_valid; }
    constexpr bool isNumeric() const { return m_valid; }
    constexpr int64_t value() const { return m_value; }
    constexpr int32_t timescale() const { return m_timescale; }

    double seconds() const;
    // The same time in another timescale, rounded to nearest (half away from zero).
    MediaTime convertScale(int32_t timescale) const;

    // Exact arithmetic; the result uses the least common timescale when it fits in
    // 32 bits, else the larger of the two (rounded). Invalid in, invalid out.
    MediaTime operator+(const MediaTime& other) const;
    MediaTime operator-(const MediaTime& other) const;
    // INT64_MIN has no positive counterpart; it negates to INT64_MAX.
    MediaTime operator-() const
    {
        return m_valid ? MediaTime(m_value == INT64_MIN ? INT64_MAX : -m_value, m_timescale) : MediaTime();
    }
    MediaTime& operator+=(const MediaTime& o) { return *this = *this + o; }
    MediaTime& operator-=(const MediaTime& o) { return *this = *this - o; }
    // Multiplies by a whole factor, or by num/den exactly when it fits.
    MediaTime multiplied(int64_t num, int64_t den = 1) const;

    // Invalid times order before every valid time and equal each other.
    std::strong_ordering operator<=>(const MediaTime& other) const;
    bool operator==(const MediaTime& other) const { return (*this <=> other) == 0; }

    static MediaTime min(const MediaTime& a, const MediaTime& b) { return a < b ? a : b; }
    static MediaTime max(const MediaTime& a, const MediaTime& b) { return a < b ? b : a; }

    // A copy of the sample buffer whose timing entries are shifted so that its
    // presentation time becomes `target`; durations are kept and an invalid decode
    // time stays invalid. The sample data is shared, not copied. Nothing when the
    // buffer has no timing.
    static std::optional<SampleBuffer> retimed(const SampleBuffer& buffer, MediaTime target);
    // A ready video sample holding the pixel buffer with one timing entry.
    static std::optional<SampleBuffer> image(std::shared_ptr<PixelBuffer> pixels, MediaTime at, MediaTime duration);

private:
    int64_t m_value = 0;
    int32_t m_timescale = 0;
    bool m_valid = false;
};

} // namespace corvessa
