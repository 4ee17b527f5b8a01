#pragma once

#include "platform/core/PixelBufferPool.h"
#include "platform/core/SampleBuffer.h"

#include <QSize>

#include <atomic>
#include <memory>
#include <optional>

namespace corvessa {

// Turns a camera sample into its horizontally flipped twin with the same timing,
// for the separate camera file when the camera mirror setting is on (the bubble
// and the preview are mirrored where they are drawn). The picture keeps its size
// and pixel format: BGRA pixels, or both NV12 planes, are reversed row by row.
//
// Used from one serial path of the engine; no lock.
class CameraMirror {
public:
    // At most this many mirrored pictures are out at once: when the writer still
    // holds them all, the next frame is dropped rather than growing memory.
    static constexpr int kMaxInUse = 6;

    CameraMirror() = default;
    CameraMirror(const CameraMirror&) = delete;
    CameraMirror& operator=(const CameraMirror&) = delete;

    // A mirrored copy of the sample with its presentation time, duration and
    // propagating attachments; nothing when the sample has no picture, no output
    // buffer can be had, or kMaxInUse are still in use.
    std::optional<SampleBuffer> sample(const SampleBuffer& source);

    // Writes the horizontal mirror image of `source` into `target`, which must have
    // the same size and format and must not be the same buffer. False otherwise.
    static bool flip(const PixelBuffer& source, PixelBuffer& target);

    // How many output pools were made so far: one per change of picture size.
    int poolsMade() const { return m_poolsMade; }

private:
    bool preparePool(int width, int height, PixelFormat format);

    std::shared_ptr<PixelBufferPool> m_pool;
    QSize m_size;
    PixelFormat m_format = PixelFormat::BGRA;
    // Pictures of the current pool still held by their consumers.
    std::shared_ptr<std::atomic<int>> m_inUse;
    int m_poolsMade = 0;
};

} // namespace corvessa
