#pragma once

#include "platform/core/PixelBuffer.h"

#include <memory>
#include <mutex>
#include <vector>

namespace corvessa {

// Recycles pixel buffers of one size and format. A buffer handed out returns to
// the pool when its last reference goes away (even after the pool itself is
// gone, when it is simply freed). At most `maxIdle` buffers wait in the pool.
// Any thread: the idle list is under the pool's lock.
class PixelBufferPool : public std::enable_shared_from_this<PixelBufferPool> {
public:
    static std::shared_ptr<PixelBufferPool> create(int width, int height, PixelFormat format, size_t maxIdle = 8);

    int width() const { return m_width; }
    int height() const { return m_height; }
    PixelFormat format() const { return m_format; }

    // A buffer with no attachments; its pixels hold whatever the last user left.
    // Null when allocation fails.
    PixelBufferRef take();

    size_t idleCount() const;
    size_t allocatedCount() const; // buffers made by this pool so far

private:
    PixelBufferPool(int width, int height, PixelFormat format, size_t maxIdle);
    void giveBack(PixelBuffer* buffer);

    const int m_width;
    const int m_height;
    const PixelFormat m_format;
    const size_t m_maxIdle;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<PixelBuffer>> m_idle;
    size_t m_allocated = 0;
};

} // namespace corvessa
