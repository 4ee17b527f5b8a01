#include "platform/core/WakeFd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace corvessa {

WakeFd::WakeFd() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeFd::~WakeFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void WakeFd::wake() const
{
    if (m_fd < 0)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
}

bool WakeFd::drain() const
{
    if (m_fd < 0)
        return false;
    uint64_t count = 0;
    return ::read(m_fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count) && count > 0;
}

} // namespace corvessa
