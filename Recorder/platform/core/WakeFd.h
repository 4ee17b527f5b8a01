#pragma once

namespace corvessa {

// An eventfd that ends a poll() from another thread. Poll `fd()` for POLLIN
// beside the descriptors a loop waits on; `wake()` from any thread makes it
// readable, `drain()` on the polling thread makes it quiet again. Owned by
// the object whose loop polls it; wake() is safe from any thread.
class WakeFd {
public:
    WakeFd();
    ~WakeFd();
    WakeFd(const WakeFd&) = delete;
    WakeFd& operator=(const WakeFd&) = delete;

    // False when the kernel refused the descriptor (the limit of open files).
    bool isValid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    // Never blocks; a wake-up that is already pending is enough, so a full
    // counter loses nothing.
    void wake() const;
    // Clears the pending wake-ups; returns whether there was one.
    bool drain() const;

private:
    int m_fd = -1;
};

} // namespace corvessa
