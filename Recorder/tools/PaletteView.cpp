#include "tools/PaletteView.h"

#include "engine/compositor/PenPalette.h"

#include <QGuiApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QToolTip>

#include <utility>

namespace corvessa {

namespace {

constexpr int rows = (PenPalette::count + PaletteView::columns - 1) / PaletteView::columns;

} // namespace

PaletteView::PaletteView(std::function<void(int index)> pick, int chosen, QWidget* parent)
    : GlassPanel(cornerRadius, margin, parent)
    , m_pick(std::move(pick))
    , m_chosen(PenPalette::clampedIndex(chosen))
{
    setFixedSize(fittingSize());
    setCursor(Qt::PointingHandCursor);
}

QRect PaletteView::cellRect(int index)
{
    const int col = index % columns;
    const int row = index / columns;
    const int origin = margin + padding;
    return QRect(origin + col * (cell + spacing), origin + row * (cell + spacing), cell, cell);
}

int PaletteView::indexAt(const QPoint& point)
{
    for (int i = 0; i < PenPalette::count; ++i) {
        if (cellRect(i).contains(point))
            return i;
    }
    return -1;
}

QSize PaletteView::fittingSize()
{
    const int w = columns * cell + (columns - 1) * spacing;
    const int h = rows * cell + (rows - 1) * spacing;
    return QSize(w + 2 * (padding + margin), h + 2 * (padding + margin));
}

bool PaletteView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int i = indexAt(help->pos());
        if (i >= 0)
            QToolTip::showText(help->globalPos(), PenPalette::name(i), this, cellRect(i));
        else
            QToolTip::hideText();
        return true;
    }
    return GlassPanel::event(event);
}

void PaletteView::paintEvent(QPaintEvent* event)
{
    GlassPanel::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor edge = QGuiApplication::palette().color(QPalette::WindowText);
    edge.setAlphaF(0.25);
    const QColor accent = QGuiApplication::palette().color(QPalette::Highlight);
    for (int i = 0; i < PenPalette::count; ++i) {
        const QPointF c = QRectF(cellRect(i)).center();
        p.setPen(Qt::NoPen);
        p.setBrush(PenPalette::color(i));
        p.drawEllipse(c, 11, 11);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(edge, 1));
        p.drawEllipse(c, 11, 11);
        if (i == m_chosen) {
            p.setPen(QPen(accent, 2.5));
            p.drawEllipse(c, 14, 14);
        }
    }
}

void PaletteView::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton ? indexAt(event->position().toPoint()) : -1;
}

void PaletteView::mouseReleaseEvent(QMouseEvent* event)
{
    const int i = indexAt(event->position().toPoint());
    const bool picked = event->button() == Qt::LeftButton && i >= 0 && i == m_pressed;
    m_pressed = -1;
    if (picked && m_pick)
        m_pick(i);
}

} // namespace corvessa
