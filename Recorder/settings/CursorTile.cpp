#include "settings/CursorTile.h"

#include <QPainter>

namespace corvessa {

namespace {

constexpr int kPictureHeight = 66;
constexpr int kPad = 10;
constexpr int kGap = 4;
constexpr double kRadius = 14;

} // namespace

CursorTile::CursorTile(const QImage& picture, const QString& name, QWidget* parent)
    : QAbstractButton(parent)
    , m_picture(picture)
{
    setText(name);
    setAccessibleName(name);
    setCursor(Qt::PointingHandCursor);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    setFont(small);
}

void CursorTile::setChosen(bool chosen)
{
    if (chosen == m_chosen)
        return;
    m_chosen = chosen;
    update();
}

QSize CursorTile::sizeHint() const
{
    return {kPictureHeight + 2 * kPad, 2 * kPad + kPictureHeight + kGap + fontMetrics().height()};
}

void CursorTile::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QColor accent = palette().color(QPalette::Highlight);
    QColor fill = m_chosen ? accent : palette().color(QPalette::WindowText);
    fill.setAlphaF(m_chosen ? 0.2 : 0.06);
    const QRectF plate = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
    p.setPen(m_chosen ? QPen(accent, 1.5) : Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(plate, kRadius, kRadius);

    if (!m_picture.isNull()) {
        const QSizeF fitted = QSizeF(m_picture.size()).scaled(QSizeF(width() - 2 * kPad, kPictureHeight),
                                                               Qt::KeepAspectRatio);
        p.drawImage(QRectF((width() - fitted.width()) / 2, kPad + (kPictureHeight - fitted.height()) / 2,
                           fitted.width(), fitted.height()),
                    m_picture);
    }
    QColor textColour = palette().color(QPalette::WindowText);
    textColour.setAlphaF(0.6);
    p.setPen(textColour);
    const QRect caption(kPad / 2, kPad + kPictureHeight + kGap, width() - kPad, fontMetrics().height());
    p.drawText(caption, Qt::AlignCenter, fontMetrics().elidedText(text(), Qt::ElideRight, caption.width()));
}

} // namespace corvessa
