#include "toolbar/FloatingMenuItem.h"

#include "toolbar/FloatingMenuView.h"

#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace corvessa {

FloatingMenuItem::FloatingMenuItem(const MenuRow::Item& item, std::function<void()> dismiss, QWidget* parent)
    : QAbstractButton(parent)
    , m_checked(item.checked)
    , m_dim(item.dim)
    , m_action(item.action)
    , m_dismiss(std::move(dismiss))
{
    setText(item.title);
    setEnabled(item.enabled);
    setFocusPolicy(Qt::NoFocus);
    setFont(FloatingMenuView::textFont(titlePoints));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] { choose(); });
}

QColor FloatingMenuItem::foreground() const
{
    const QPalette& pal = palette();
    if (m_hover)
        return isEnabled() ? QColor(Qt::white) : FloatingMenuView::secondaryColour(pal);
    return !isEnabled() || m_dim ? FloatingMenuView::secondaryColour(pal) : FloatingMenuView::primaryColour(pal);
}

QSize FloatingMenuItem::sizeHint() const
{
    const QFontMetrics fm(font());
    const int w = padX + checkColumn + spacing + fm.horizontalAdvance(text()) + minimumTrailing + padX;
    const int h = padY + std::max(fm.height(), checkColumn) + padY;
    return {w, h};
}

void FloatingMenuItem::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    if (highlighted()) {
        QColor accent = palette().color(QPalette::Active, QPalette::Highlight);
        accent.setAlphaF(float(highlightOpacity));
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), highlightRadius, highlightRadius);
        p.fillPath(shape, accent);
    }
    const QColor fg = foreground();
    const QRectF content = QRectF(rect()).adjusted(padX, padY, -padX, -padY);

    if (m_checked) {
        // The mark fills about an 11 pt glyph box, centred in its column.
        const double box = checkPoints * 0.8;
        const QPointF o(content.left() + (checkColumn - box) / 2, content.center().y() - box / 2);
        QPainterPath mark;
        mark.moveTo(o + QPointF(0.08 * box, 0.55 * box));
        mark.lineTo(o + QPointF(0.38 * box, 0.85 * box));
        mark.lineTo(o + QPointF(0.92 * box, 0.15 * box));
        // Semibold: a stroke of about a sixth of the glyph.
        p.setPen(QPen(fg, box / 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(mark);
    }

    p.setPen(fg);
    p.setFont(font());
    const QRectF title = content.adjusted(checkColumn + spacing, 0, 0, 0);
    p.drawText(title, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
}

void FloatingMenuItem::enterEvent(QEnterEvent* event)
{
    m_hover = true;
    update();
    QAbstractButton::enterEvent(event);
}

void FloatingMenuItem::leaveEvent(QEvent* event)
{
    m_hover = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void FloatingMenuItem::choose()
{
    if (!isEnabled())
        return;
    // Copied first: closing the menu schedules this row's deletion.
    const std::function<void()> action = m_action;
    if (m_dismiss)
        m_dismiss();
    if (action)
        action();
}

} // namespace corvessa
