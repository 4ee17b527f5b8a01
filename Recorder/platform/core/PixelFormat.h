#pragma once

#include <cstdint>

namespace corvessa {

// The two pixel layouts the capture and recording paths use.
enum class PixelFormat : uint32_t {
    BGRA = 0x42475241,          // 'BGRA': 8-bit blue, green, red, alpha in one plane
    NV12VideoRange = 0x34323076, // '420v': Y plane + interleaved CbCr plane at half size, 16-235 range
};

} // namespace corvessa
