#pragma once

#include "platform/core/MediaTime.h"

#include <cstdint>

namespace corvessa {

// The host clock every captured buffer is retimed onto: CLOCK_MONOTONIC.
class HostClock {
public:
    static int64_t nanoseconds();
    static double seconds() { return double(nanoseconds()) / 1e9; }
    static MediaTime now() { return MediaTime(nanoseconds(), 1000000000); }
};

} // namespace corvessa
