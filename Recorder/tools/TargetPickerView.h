#pragma once

#include <QPixmap>
#include <QRectF>
#include <QWidget>

namespace corvessa {

class TargetPicker;

// One screen's veil of the target picker: dims the screen, clears and labels
// the hovered window or the dragged area, shows the instruction pill and
// passes the mouse and Esc on to the picker. Main thread.
class TargetPickerView final : public QWidget {
public:
    // `screen`: the frame it covers, Qt global points. `backdrop`: the screen as
    // it was, painted beneath the veil when nothing composites translucent
    // windows; null otherwise.
    TargetPickerView(TargetPicker& picker, const QRectF& screen, const QPixmap& backdrop);

    const QRectF& screenFrame() const { return m_screen; }
    bool hasBackdrop() const { return !m_backdrop.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TargetPicker& m_picker;
    QRectF m_screen;
    QPixmap m_backdrop;
};

} // namespace corvessa
