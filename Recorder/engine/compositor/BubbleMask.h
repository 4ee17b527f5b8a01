#pragma once

#include <QImage>

#include <cstdint>
#include <vector>

namespace corvessa {

// The shape of the camera bubble at one pixel size: a coverage mask of the
// rounded rectangle and the thin light ring drawn along its edge. Immutable once
// made, so any thread may read it.
class BubbleMask {
public:
    // What a mask is cached under: its size and its corner share in thousandths.
    struct Key {
        int width = 0;
        int height = 0;
        int corner = 0;
        bool operator==(const Key&) const = default;
    };

    // Corners of `corner` times the shorter side (0.5 gives a circle or a capsule);
    // sizes below 8 are raised to 8.
    static BubbleMask make(int width, int height, double corner);
    static Key keyFor(int width, int height, double corner);

    const Key& key() const { return m_key; }
    int width() const { return m_key.width; }
    int height() const { return m_key.height; }
    // Coverage 0...255, one byte per pixel, rows `width` apart.
    const std::vector<uint8_t>& mask() const { return m_mask; }
    // White at 30 % along the edge, premultiplied ARGB.
    const QImage& ring() const { return m_ring; }

    // Shapes an opaque picture (Format_ARGB32_Premultiplied, alpha 255) of the
    // mask's size in place: cuts it to the mask and lays the ring over it.
    void apply(QImage& picture) const;

private:
    Key m_key;
    std::vector<uint8_t> m_mask;
    // Per byte of the picture, how much of it stays: coverage times what the ring
    // leaves; so shaping is one multiply and one add per byte.
    std::vector<uint8_t> m_keep;
    QImage m_ring;
};

} // namespace corvessa
