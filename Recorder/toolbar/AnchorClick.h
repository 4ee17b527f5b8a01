#pragma once

#include <QRect>
#include <QWidget>

#include <functional>

namespace corvessa {

// A transparent layer over a toolbar control that reports a press, on the
// press and not the release, with the control's rectangle in global
// coordinates. Takes the first click of an inactive window and never moves it.
// Main thread.
class AnchorClick : public QWidget {
public:
    using Click = std::function<void(const QRect& anchor)>;

    explicit AnchorClick(Click onClick, QWidget* parent = nullptr);

    void setOnClick(Click onClick) { m_onClick = std::move(onClick); }
    // The control's rectangle in global Qt coordinates.
    QRect globalRect() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    Click m_onClick;
};

} // namespace corvessa
