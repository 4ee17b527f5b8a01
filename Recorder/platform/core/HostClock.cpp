#include "platform/core/HostClock.h"

#include <ctime>

namespace corvessa {

int64_t HostClock::nanoseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

} // namespace corvessa
