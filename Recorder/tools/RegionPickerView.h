#pragma once

#include "platform/core/ScreenCoordinates.h"

#include <QPixmap>
#include <QRectF>
#include <QWidget>

namespace corvessa {

class RegionPicker;

// The region picker's veil over one screen: dims it, outlines the recorded
// area when it is not the whole screen, clears the dragged rectangle and
// previews what will be magnified with its zoom factor, shows the instruction
// pill, and passes the mouse and Esc on to the picker in global points.
// Main thread.
class RegionPickerView final : public QWidget {
public:
    // `screen`: the frame it covers in Qt points (y down); `coords` turns Qt
    // points into global ones. `backdrop`: the screen as it was, painted beneath
    // the veil when nothing composites translucent windows; null otherwise.
    RegionPickerView(RegionPicker& picker, const ScreenCoordinates& coords, const QRectF& screen,
                     const QPixmap& backdrop);

    // A global rectangle in this view's coordinates.
    QRectF local(const GlobalRect& global) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    GlobalPoint globalPoint(const QMouseEvent* event) const;

    RegionPicker& m_picker;
    ScreenCoordinates m_coords;
    QRectF m_screen;
    QPixmap m_backdrop;
};

} // namespace corvessa
