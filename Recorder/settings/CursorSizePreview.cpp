#include "settings/CursorSizePreview.h"

#include "prefs/Loc.h"
#include "settings/SettingsLayout.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace corvessa {

namespace {

constexpr double kCrossArm = 5;

QLabel* captionLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    SettingsLayout::greyText(label);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

// The sprite stretched over s × s points with the crosshair on its click point.
class CursorSizePreview::Sprite : public QWidget {
public:
    using QWidget::QWidget;

    void set(const CursorStyle::Look& look, double size)
    {
        m_look = look;
        const double s = side(look, size);
        m_side = std::isfinite(s) && s > 0 ? s : 0;
        setFixedSize(int(std::ceil(m_side)), int(std::ceil(m_side)));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setRenderHint(QPainter::Antialiasing);
        p.drawImage(QRectF(0, 0, m_side, m_side), m_look.sprite.image);
        const QPointF c(m_side * m_look.sprite.hot.x(), m_side * m_look.sprite.hot.y());
        QColor red(Qt::red);
        red.setAlphaF(0.85);
        p.setPen(QPen(red, 1));
        p.drawLine(QPointF(c.x() - kCrossArm, c.y()), QPointF(c.x() + kCrossArm, c.y()));
        p.drawLine(QPointF(c.x(), c.y() - kCrossArm), QPointF(c.x(), c.y() + kCrossArm));
    }

private:
    CursorStyle::Look m_look;
    double m_side = 0;
};

CursorSizePreview::CursorSizePreview(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(120);
    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(18, 14 + 8, 18, 14 + 8);
    line->setSpacing(44);

    auto* chosen = new QVBoxLayout;
    chosen->setSpacing(6);
    m_sprite = new Sprite(this);
    m_caption = captionLabel(this);
    chosen->addWidget(m_sprite, 0, Qt::AlignHCenter);
    chosen->addWidget(m_caption, 0, Qt::AlignHCenter);

    auto* reference = new QVBoxLayout;
    reference->setSpacing(6);
    auto* arrow = new QLabel(this);
    const QImage picture = systemArrowPicture();
    arrow->setPixmap(QPixmap::fromImage(picture));
    arrow->setFixedSize(picture.size());
    QLabel* arrowCaption = captionLabel(this);
    arrowCaption->setText(Loc::text(QStringLiteral("System Cursor (Reference)")));
    reference->addWidget(arrow, 0, Qt::AlignHCenter);
    reference->addWidget(arrowCaption, 0, Qt::AlignHCenter);

    line->addLayout(chosen);
    line->addLayout(reference);
    line->addStretch();
}

void CursorSizePreview::setLook(const CursorStyle::Look& look, double size)
{
    m_sprite->set(look, size);
    m_caption->setText(caption(side(look, size)));
}

QString CursorSizePreview::caption(double side)
{
    const double whole = std::isfinite(side) ? std::trunc(side) : 0;
    return Loc::fill(Loc::text(QStringLiteral("Click Position (Red Crosshair) · %@ Points Tall")), qint64(whole));
}

QImage CursorSizePreview::systemArrowPicture()
{
    // The built-in arrow sits on its canvas at six times its natural size.
    const QImage& canvas = CursorStyle::systemArrow().image;
    const QRect drawn(int(CursorStyle::canvasInset), int(CursorStyle::canvasInset),
                      int(CursorStyle::arrowSize.width() * CursorStyle::canvasScale),
                      int(CursorStyle::arrowSize.height() * CursorStyle::canvasScale));
    return canvas.copy(drawn).scaled(CursorStyle::arrowSize.toSize(), Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
}

QString CursorSizePreview::captionText() const
{
    return m_caption->text();
}

void CursorSizePreview::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    SettingsLayout::paintPreviewCard(p, *this, QRectF(rect()).adjusted(0, 8, 0, -8));
}

} // namespace corvessa
