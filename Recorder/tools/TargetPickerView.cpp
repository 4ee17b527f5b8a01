#include "tools/TargetPickerView.h"

#include "prefs/Loc.h"
#include "tools/PickerPaint.h"
#include "tools/TargetPicker.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace corvessa {

TargetPickerView::TargetPickerView(TargetPicker& picker, const QRectF& screen, const QPixmap& backdrop)
    : m_picker(picker)
    , m_screen(screen)
    , m_backdrop(backdrop)
{
    setMouseTracking(true);
    // A window is clicked, an area is drawn.
    setCursor(m_picker.mode() == RangeMode::window ? Qt::PointingHandCursor : Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void TargetPickerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PickerPaint::veil(painter, rect(), m_backdrop);

    std::optional<QRectF> target;
    QString label;
    if (m_picker.mode() == RangeMode::area) {
        target = m_picker.dragRect();
        if (target)
            label = QStringLiteral("%1 × %2").arg(int(target->width())).arg(int(target->height()));
    } else if (const auto& hover = m_picker.hover()) {
        target = hover->frame;
        label = hover->title;
    }
    if (target) {
        const QRectF local = target->translated(-m_screen.topLeft());
        PickerPaint::hole(painter, rect(), local, m_backdrop);
        painter.setPen(QPen(PickerPaint::blue, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(local);
        PickerPaint::label(painter, local, label);
    }
    PickerPaint::pill(painter, width(),
                      m_picker.mode() == RangeMode::area
                          ? Loc::text(QStringLiteral("Drag to select the area to record  ·  Press Esc to exit"))
                          : Loc::text(QStringLiteral("Click the window to record  ·  Press Esc to exit")));
}

void TargetPickerView::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        m_picker.drag(event->globalPosition());
    else
        m_picker.hoverAt(event->globalPosition());
}

void TargetPickerView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        m_picker.finish(std::nullopt);
    else if (event->button() == Qt::LeftButton)
        m_picker.press(event->globalPosition());
}

void TargetPickerView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_picker.endDrag();
}

void TargetPickerView::keyPressEvent(QKeyEvent* event)
{
    // Every other key is swallowed: nothing behind the veil gets it.
    if (event->key() == Qt::Key_Escape)
        m_picker.finish(std::nullopt);
}

} // namespace corvessa
