#pragma once

#include "toolbar/BarDocking.h"
#include "toolbar/kit/FloatingKit.h"

#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QPropertyAnimation;

namespace corvessa {

class DragHandle;
class FloatingSurfaces;
class ScreenCoordinates;

// The top-level window that hosts the toolbar: the bar's content, which draws
// the bar inside a transparent margin on every side, a floating surface of the
// floating level that the window manager still manages (it is never past it),
// dragged by its background. Only the docking logic places it: nothing here
// pulls it inside a screen, which Qt does not do for a window it is told to
// move. Main thread.
class ToolbarPanel : public QWidget, public BarDocking::Panel {
public:
    // How long an animated frame change takes.
    static constexpr int animationMs = 200;

    // Takes ownership of `content`. `surfaces` null takes the synthetic twin's
    // (Qt's flags only, as in unit tests). `cornerRadius` rounds the visible
    // part of the bar, which is what a window without a compositing manager shows.
    ToolbarPanel(QWidget* content, std::shared_ptr<FloatingSurfaces> surfaces, double cornerRadius = 24);
    ~ToolbarPanel() override;

    QWidget* content() const { return m_content; }
    // Called on every move of the window that this panel did not make itself:
    // drags, and the window manager's own moves.
    void setOnMoved(std::function<void()> moved) { m_moved = std::move(moved); }
    bool dragging() const;

    // BarDocking::Panel.
    GlobalRect frame() const override;
    void setFrame(const GlobalRect& frame, bool animate) override;
    bool isVisible() const override { return QWidget::isVisible(); }
    QSizeF fittingSize() const override;

    // Qt coordinates (y down) from and to the program's global points, by the
    // primary screen Qt knows now.
    static ScreenCoordinates coordinates();

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QRect barArea() const;
    bool movingItself() const;

    QPointer<QWidget> m_content;
    FloatingKit m_kit;
    double m_cornerRadius;
    std::function<void()> m_moved;
    QPropertyAnimation* m_animation;
    DragHandle* m_drag;
    bool m_moving = false;
    // Where setFrame last put the window, until it is moved elsewhere.
    std::optional<QPoint> m_ownPosition;
};

} // namespace corvessa
