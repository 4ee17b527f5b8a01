#include "platform/core/PixelBufferPool.h"

#include <new>

namespace corvessa {

namespace {
// The row alignment of buffers made with the default of PixelBuffer::create.
constexpr size_t kRowAlignment = 64;
} // namespace

std::shared_ptr<PixelBufferPool> PixelBufferPool::create(int width, int height, PixelFormat format, size_t maxIdle)
{
    if (!PixelBuffer::isValidSize(width, height, format))
        return nullptr;
    return std::shared_ptr<PixelBufferPool>(new PixelBufferPool(width, height, format, maxIdle));
}

PixelBufferPool::PixelBufferPool(int width, int height, PixelFormat format, size_t maxIdle)
    : m_width(width), m_height(height), m_format(format), m_maxIdle(maxIdle)
{
}

PixelBufferRef PixelBufferPool::take()
{
    std::unique_ptr<PixelBuffer> buffer;
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            buffer = std::move(m_idle.back());
            m_idle.pop_back();
        }
    }
    if (!buffer) {
        // Allocate outside the lock. Not cleared: its user writes every pixel,
        // as it must with a recycled buffer.
        buffer = PixelBuffer::make(m_width, m_height, m_format, kRowAlignment, false);
        if (!buffer)
            return nullptr;
        std::lock_guard lock(m_mutex);
        ++m_allocated;
    }
    buffer->clearAttachments();

    // The deleter holds the pool weakly, so outstanding buffers never keep a
    // discarded pool alive; a buffer outliving its pool is simply freed.
    std::weak_ptr<PixelBufferPool> pool = weak_from_this();
    return PixelBufferRef(buffer.release(), [pool](PixelBuffer* b) {
        if (const auto owner = pool.lock())
            owner->giveBack(b);
        else
            delete b;
    });
}

void PixelBufferPool::giveBack(PixelBuffer* buffer)
{
    std::unique_ptr<PixelBuffer> owned(buffer);
    {
        std::lock_guard lock(m_mutex);
        if (m_idle.size() < m_maxIdle) {
            try {
                m_idle.push_back(std::move(owned));
                return;
            } catch (const std::bad_alloc&) {
                // Runs inside a deleter, which must not throw: free the buffer instead.
            }
        }
    }
    // Over the idle limit: `owned` frees the buffer here, outside the lock.
}

size_t PixelBufferPool::idleCount() const
{
    std::lock_guard lock(m_mutex);
    return m_idle.size();
}

size_t PixelBufferPool::allocatedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_allocated;
}

} // namespace corvessa
