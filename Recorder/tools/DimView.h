#pragma once

#include <QRectF>
#include <QRegion>
#include <QSize>
#include <QWidget>

#include <optional>

namespace corvessa {

// One display's veil: translucent black over the whole view with a rounded
// hole left clear and a thin light outline around the hole. Without a
// compositing manager a translucent veil would paint the desktop black, so
// the view then draws only an opaque frame just outside the hole and the
// window is shaped to that frame (frameRegion). Main thread.
class DimView : public QWidget {
public:
    static constexpr double veilAlpha = 0.5;
    static constexpr double outlineWidth = 1.5;
    // The frame drawn instead of the veil without a compositing manager: wide
    // enough to be seen, narrow enough to hide nothing worth seeing.
    static constexpr int frameWidth = 3;

    explicit DimView(QWidget* parent = nullptr);

    // The hole in view coordinates; none dims the whole view.
    void setHole(const std::optional<QRectF>& hole, double radius);
    const std::optional<QRectF>& hole() const { return m_hole; }
    double radius() const { return m_radius; }
    // Veil (compositing) or frame only (no compositing).
    void setVeiled(bool veiled);
    bool veiled() const { return m_veiled; }

    // The frame band around `hole` inside `bounds`; empty without a hole or
    // when the band lies outside the view (a whole-display hole).
    static QRegion frameRegion(const QSize& bounds, const std::optional<QRectF>& hole);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QRectF> m_hole;
    double m_radius = 10;
    bool m_veiled = true;
};

} // namespace corvessa
