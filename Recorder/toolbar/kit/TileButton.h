#pragma once

#include "toolbar/kit/IconTile.h"

#include <functional>

namespace corvessa {

// An icon tile that acts as a plain button: the action runs when a left press
// is released inside it. Disabled, it shows its icon at half strength and does
// nothing. Its children (labels, meters) take no mouse input, so the whole tile
// is the button. Main thread.
class TileButton : public IconTile {
public:
    TileButton(IconPainter icon, int width, std::function<void()> action, QWidget* parent = nullptr);

    void setAction(std::function<void()> action) { m_action = std::move(action); }
    // Runs the action as a click would; false when disabled or without one.
    bool click();
    bool isPressed() const { return m_pressed; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    std::function<void()> m_action;
    bool m_pressed = false;
};

} // namespace corvessa
