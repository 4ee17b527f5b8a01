#include "tools/RegionPickerView.h"

#include "prefs/Loc.h"
#include "tools/PickerPaint.h"
#include "tools/RegionPicker.h"
#include "tools/RegionRules.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace corvessa {

RegionPickerView::RegionPickerView(RegionPicker& picker, const ScreenCoordinates& coords, const QRectF& screen,
                                   const QPixmap& backdrop)
    : m_picker(picker)
    , m_coords(coords)
    , m_screen(screen)
    , m_backdrop(backdrop)
{
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
}

QRectF RegionPickerView::local(const GlobalRect& global) const
{
    return m_coords.fromGlobal(global).translated(-m_screen.topLeft());
}

GlobalPoint RegionPickerView::globalPoint(const QMouseEvent* event) const
{
    return m_coords.toGlobalPoint(event->globalPosition());
}

void RegionPickerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PickerPaint::veil(painter, rect(), m_backdrop);

    const GlobalRect& region = m_picker.region();
    // A window or area recording: show where it lies.
    if (region.size() != m_screen.size()) {
        QPen dashed(QColor(255, 255, 255, int(0.6 * 255)), 1);
        dashed.setDashPattern({6, 4});
        painter.setPen(dashed);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(local(region));
    }

    if (const auto& start = m_picker.start()) {
        const QRectF drag = local(RegionRules::clippedDrag(region, *start, m_picker.current()));
        PickerPaint::hole(painter, rect(), drag, m_backdrop);
        const GlobalRect globalPick = RegionRules::forDrag(region, *start, m_picker.current());
        QPen preview(QColor(255, 255, 255, int(0.7 * 255)), 1);
        preview.setDashPattern({5, 4});
        painter.setPen(preview);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(local(globalPick));
        painter.setPen(QPen(PickerPaint::blue, 2));
        painter.drawRect(drag);
        const double fraction = region.width() > 0 ? globalPick.width() / region.width() : 1;
        PickerPaint::label(painter, drag, QString::asprintf("%.1f×", 1 / fraction));
    }

    PickerPaint::pill(painter, width(),
                      Loc::text(QStringLiteral("Drag to select the area to magnify  ·  Press Esc to exit")));
}

void RegionPickerView::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        m_picker.drag(globalPoint(event));
}

void RegionPickerView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        m_picker.finish(std::nullopt);
    else if (event->button() == Qt::LeftButton)
        m_picker.press(globalPoint(event));
}

void RegionPickerView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_picker.release(globalPoint(event));
}

void RegionPickerView::keyPressEvent(QKeyEvent* event)
{
    // Every other key is swallowed: nothing behind the veil gets it.
    if (event->key() == Qt::Key_Escape)
        m_picker.finish(std::nullopt);
}

} // namespace corvessa
