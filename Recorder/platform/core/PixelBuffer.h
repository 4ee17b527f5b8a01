#pragma once

#include "platform/core/PixelFormat.h"

#include <QString>
#include <QVariant>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace corvessa {

// One attachment of a pixel buffer (frame status, colour tags, display time, ...).
struct PixelAttachment {
    QVariant value;
    bool propagate = true; // copied along when the pixels are copied
};

// Attachment keys used across the program.
namespace PixelAttachmentKey {
inline const QString FrameStatus = QStringLiteral("frameStatus");
inline const QString ColorPrimaries = QStringLiteral("colorPrimaries");
inline const QString TransferFunction = QStringLiteral("transferFunction");
inline const QString YCbCrMatrix = QStringLiteral("yCbCrMatrix");
// True on a buffer whose source keeps building its next frames on these pixels:
// whoever draws on the picture draws on a copy.
inline const QString KeptBySource = QStringLiteral("keptBySource");
} // namespace PixelAttachmentKey

// A frame in memory: BGRA (one plane) or NV12 video range (Y + CbCr planes),
// each plane with its own row stride. Rows are aligned so that SIMD code and
// libswscale can work on them in place.
class PixelBuffer {
public:
    struct Plane {
        uint8_t* data = nullptr;
        size_t bytesPerRow = 0;
        int width = 0;  // in samples of the plane (pixels for Y/BGRA, CbCr pairs for the chroma plane)
        int height = 0;
    };

    // A zero-filled buffer; `rowAlignment` must be a power of two. Null when the
    // size is not positive, odd for NV12, or too large to allocate.
    static std::shared_ptr<PixelBuffer> create(int width, int height, PixelFormat format, size_t rowAlignment = 64);
    ~PixelBuffer();

    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }
    PixelFormat format() const { return m_format; }
    bool isPlanar() const { return m_planes.size() > 1; }
    size_t planeCount() const { return m_planes.size(); }
    const Plane& plane(size_t i) const { return m_planes.at(i); }
    uint8_t* baseAddress(size_t plane = 0) { return m_planes.at(plane).data; }
    const uint8_t* baseAddress(size_t plane = 0) const { return m_planes.at(plane).data; }
    size_t bytesPerRow(size_t plane = 0) const { return m_planes.at(plane).bytesPerRow; }
    size_t rowAlignment() const { return m_alignment; }

    // Attachments. `propagatingAttachments` are the ones a copy carries along.
    void setAttachment(const QString& key, QVariant value, bool propagate = true);
    void removeAttachment(const QString& key);
    QVariant attachment(const QString& key) const;
    const std::map<QString, PixelAttachment>& attachments() const { return m_attachments; }
    std::map<QString, PixelAttachment> propagatingAttachments() const;
    void clearAttachments() { m_attachments.clear(); }

    // Fills BGRA with one colour, NV12 with the video-range equivalent (BT.709).
    void fill(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255);

private:
    friend class PixelBufferPool; // keeps its buffers outside a shared_ptr while idle

    PixelBuffer() = default;
    static bool isValidSize(int width, int height, PixelFormat format);
    // `zeroed` false leaves the pixels as the allocator gave them (for the
    // pool, whose buffers hold whatever their last user left anyway).
    static std::unique_ptr<PixelBuffer> make(int width, int height, PixelFormat format, size_t rowAlignment,
                                             bool zeroed = true);

    int m_width = 0;
    int m_height = 0;
    PixelFormat m_format = PixelFormat::BGRA;
    size_t m_alignment = 64;
    std::vector<Plane> m_planes;
    uint8_t* m_storage = nullptr;
    std::map<QString, PixelAttachment> m_attachments;
};

using PixelBufferRef = std::shared_ptr<PixelBuffer>;

} // namespace corvessa
