#include "toolbar/StatusGlyphView.h"

#include "toolbar/BarElements.h"
#include "toolbar/kit/IconTile.h"
#include "toolbar/kit/Symbols.h"

#include <QDateTime>
#include <QPainter>
#include <QTimer>

namespace corvessa {

StatusGlyphView::StatusGlyphView(RecordingRowTexts::StatusGlyph glyph, QWidget* parent)
    : QWidget(parent)
    , m_glyph(glyph)
{
    setFixedSize(18, 22);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (glyph == RecordingRowTexts::StatusGlyph::pulsingDot) {
        m_timer = new QTimer(this);
        m_timer->setInterval(1000 / 24);
        connect(m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
        m_timer->start();
    }
}

void StatusGlyphView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF dot(width() / 2.0 - 6, height() / 2.0 - 6, 12, 12);
    switch (m_glyph) {
    case RecordingRowTexts::StatusGlyph::pulsingDot: {
        QColor red = BarElements::red();
        red.setAlphaF(float(RecordingRowTexts::pulseOpacity(QDateTime::currentMSecsSinceEpoch() / 1000.0)));
        painter.setPen(Qt::NoPen);
        painter.setBrush(red);
        painter.drawEllipse(dot);
        break;
    }
    case RecordingRowTexts::StatusGlyph::pausedDot:
        painter.setPen(Qt::NoPen);
        painter.setBrush(IconTile::orange());
        painter.drawEllipse(dot);
        break;
    default: {
        const QRectF box(width() / 2.0 - 8, height() / 2.0 - 8, 16, 16);
        Symbols::painter(RecordingRowTexts::symbolName(m_glyph), 13)(painter, box, IconTile::orange());
        break;
    }
    }
}

} // namespace corvessa
