#include "capture/AudioLevel.h"

#include "platform/core/SampleBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace corvessa {

namespace {

struct Accumulator {
    float gain;
    bool write;
    uint64_t count = 0;
    double sum = 0;
    float maxIn = 0;
    float maxOut = 0;

    // Measures one sample; returns the gained value.
    float take(float x)
    {
        const float y = gain * x;
        ++count;
        const float sq = y * y; // squared in single precision, summed in double
        sum += double(sq);
        maxIn = std::max(maxIn, std::fabs(x));
        maxOut = std::max(maxOut, std::fabs(y));
        return y;
    }
};

// Memory of an audio buffer is not guaranteed to be aligned for its sample type,
// so every access goes through memcpy.
template <typename T>
T load(const std::byte* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void store(std::byte* p, T v)
{
    std::memcpy(p, &v, sizeof v);
}

void processFloat32(std::byte* d, size_t n, Accumulator& acc)
{
    for (size_t i = 0; i < n; ++i, d += 4) {
        const float y = acc.take(load<float>(d));
        if (acc.write)
            store<float>(d, y >= 1.0f ? 1.0f : y < -1.0f ? -1.0f : y);
    }
}

void processFloat64(std::byte* d, size_t n, Accumulator& acc)
{
    for (size_t i = 0; i < n; ++i, d += 8) {
        const float y = acc.take(float(load<double>(d)));
        if (acc.write)
            store<double>(d, y >= 1.0f ? 1.0 : double(std::max(y, -1.0f)));
    }
}

void processInt16(std::byte* d, size_t n, Accumulator& acc)
{
    for (size_t i = 0; i < n; ++i, d += 2) {
        const float y = acc.take(float(load<int16_t>(d)) / 32768.0f);
        if (acc.write) {
            const int16_t out = y >= 1.0f ? int16_t(32767) : y < -1.0f ? int16_t(-32768)
                                                                   : int16_t(std::min(y, 0.99997f) * 32768.0f);
            store<int16_t>(d, out);
        }
    }
}

void processInt24(std::byte* d, size_t n, Accumulator& acc)
{
    for (size_t i = 0; i < n; ++i, d += 3) {
        const auto* u = reinterpret_cast<const uint8_t*>(d);
        int32_t s = int32_t(uint32_t(u[0]) | (uint32_t(u[1]) << 8) | (uint32_t(u[2]) << 16));
        if (s & 0x800000)
            s -= 0x1000000; // sign-extend
        const float y = acc.take(float(s) / 8388608.0f);
        if (acc.write) {
            const int32_t out = y >= 1.0f ? 8388607 : y < -1.0f ? -8388608 : int32_t(std::min(y, 0.99999988f) * 8388608.0f);
            auto* w = reinterpret_cast<uint8_t*>(d);
            w[0] = uint8_t(out & 0xff);
            w[1] = uint8_t((out >> 8) & 0xff);
            w[2] = uint8_t((out >> 16) & 0xff);
        }
    }
}

void processInt32(std::byte* d, size_t n, Accumulator& acc)
{
    for (size_t i = 0; i < n; ++i, d += 4) {
        const float y = acc.take(float(load<int32_t>(d)) * 0x1p-31f);
        if (acc.write) {
            // The positive limit is the largest float below 2^31: 2147483392.
            const int32_t out = y >= 1.0f ? 2147483392 : y < -1.0f ? int32_t(-2147483647 - 1)
                                                                  : int32_t(double(std::min(y, 0.99999988f)) * 2147483648.0);
            store<int32_t>(d, out);
        }
    }
}

} // namespace

std::optional<LevelStats> AudioLevel::process(SampleBuffer& buffer, float gain)
{
    const auto& fmt = buffer.audioFormat();
    const auto& list = buffer.audioBuffers();
    if (!fmt || !list || list->buffers.empty())
        return std::nullopt;

    // Bytes per sample, from the frame size when there is one.
    uint32_t bytes = 0;
    if (fmt->channelsPerFrame != 0 && fmt->bytesPerFrame != 0)
        bytes = fmt->bytesPerFrame / (fmt->isInterleaved() ? fmt->channelsPerFrame : 1);
    else if (fmt->bytesPerFrame == 0)
        bytes = fmt->bitsPerChannel / 8;
    else
        bytes = fmt->bytesPerFrame;

    Accumulator acc{gain, gain != 1.0f};
    for (auto& buf : list->buffers) {
        const size_t size = buf.size();
        if (buf.empty() || bytes == 0 || size < bytes)
            continue;
        const size_t n = size / bytes;
        std::byte* d = buf.data();
        if (fmt->isFloat()) {
            if (bytes == 4)
                processFloat32(d, n, acc);
            else if (bytes == 8)
                processFloat64(d, n, acc);
        } else if (bytes == 2) {
            processInt16(d, n, acc);
        } else if (bytes == 3) {
            processInt24(d, n, acc);
        } else if (bytes == 4) {
            processInt32(d, n, acc);
        }
    }
    if (acc.count == 0)
        return std::nullopt;
    return LevelStats{acc.maxOut, float(std::sqrt(acc.sum / double(acc.count))), acc.maxIn};
}

} // namespace corvessa
