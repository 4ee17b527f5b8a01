#include "tools/TargetPickerView.h"

#include "prefs/Loc.h"
#include "tools/TargetPicker.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace corvessa {

namespace {

const QColor kBlue(0, 122, 255);

QFont textFont(double points)
{
    QFont font;
    font.setPointSizeF(points);
    font.setWeight(QFont::Medium);
    return font;
}

} // namespace

TargetPickerView::TargetPickerView(TargetPicker& picker, const QRectF& screen, const QPixmap& backdrop)
    : m_picker(picker)
    , m_screen(screen)
    , m_backdrop(backdrop)
{
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void TargetPickerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!m_backdrop.isNull())
        painter.drawPixmap(rect(), m_backdrop);
    painter.fillRect(rect(), QColor(0, 0, 0, int(0.35 * 255)));

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
        // Almost clear, not clear: the overlay still takes the clicks there.
        if (!m_backdrop.isNull()) {
            painter.save();
            painter.setClipRect(local);
            painter.drawPixmap(rect(), m_backdrop);
            painter.restore();
        } else {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(local, QColor(0, 0, 0, 5));
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
        painter.setPen(QPen(kBlue, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(local);
        paintLabel(painter, local, label);
    }
    paintPill(painter);
}

void TargetPickerView::paintLabel(QPainter& painter, const QRectF& target, const QString& text) const
{
    const QString padded = QLatin1Char(' ') + text + QLatin1Char(' ');
    const QFont font = textFont(13);
    const QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(padded), metrics.height());
    // Just above the top-left corner, never past the top of the screen.
    const QRectF box(target.left(), std::max(4.0, target.top() - 6 - (size.height() + 2)), size.width(),
                     size.height() + 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBlue);
    painter.drawRoundedRect(box, 4, 4);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(box.left(), box.top() + 1, size.width(), size.height()), Qt::AlignLeft | Qt::AlignTop,
                     padded);
}

void TargetPickerView::paintPill(QPainter& painter) const
{
    const QString text = m_picker.mode() == RangeMode::area
                             ? Loc::text(QStringLiteral("Drag to select the area to record  ·  Press Esc to exit"))
                             : Loc::text(QStringLiteral("Click the window to record  ·  Press Esc to exit"));
    const QFont font = textFont(15);
    const QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    const QRectF pill(width() / 2.0 - size.width() / 2 - 16, 64 - (size.height() + 14), size.width() + 32,
                      size.height() + 14);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, int(0.55 * 255)));
    painter.drawRoundedRect(pill, 10, 10);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(pill.left() + 16, pill.top() + 7, size.width(), size.height()), Qt::AlignLeft | Qt::AlignTop,
                     text);
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
