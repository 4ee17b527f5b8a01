#include "toolbar/RecordButton.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace corvessa {

RecordButton::RecordButton(const QString& text, QWidget* parent)
    : QAbstractButton(parent)
{
    setText(text);
    QFont f = font();
    f.setPointSizeF(15);
    f.setWeight(QFont::DemiBold);
    setFont(f);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
}

QColor RecordButton::fill() const
{
    return QColor::fromRgbF(0.16f, 0.53f, 0.98f, isDown() ? 0.75f : 1.0f);
}

QSize RecordButton::sizeHint() const
{
    const double textWidth = QFontMetricsF(font()).horizontalAdvance(text());
    return {std::max(minimumWidth, int(std::ceil(textWidth)) + 2 * padding), height};
}

void RecordButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(card, fill());
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace corvessa
