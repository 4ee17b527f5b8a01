#include "tools/PreviewView.h"

#include "capture/CameraPreview.h"
#include "prefs/Loc.h"
#include "toolbar/kit/Symbols.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>

namespace corvessa {

PreviewView::PreviewView(QWidget* parent)
    : QWidget(parent)
    , m_preview(std::make_shared<CameraPreview>())
    , m_exitButton(new QPushButton(Loc::text(QStringLiteral("Exit Camera Full Screen")), this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    // The symbol leads the title, in the button's text colour.
    constexpr double symbolPoints = 14;
    m_exitButton->setIcon(Symbols::pixmap(QStringLiteral("arrow.down.right.and.arrow.up.left"), symbolPoints,
                                          m_exitButton->palette().color(QPalette::ButtonText), devicePixelRatioF()));
    m_exitButton->setIconSize(QSize(int(symbolPoints), int(symbolPoints)));
    m_exitButton->hide();
    connect(m_exitButton, &QPushButton::clicked, this, [this] {
        if (onExitFullScreen)
            onExitFullScreen();
    });
    // Pictures arrive on the main thread; a destroyed view must not be called.
    QPointer<PreviewView> self(this);
    m_preview->setOnImage([self](const QImage&) {
        if (self)
            self->update();
    });
}

PreviewView::~PreviewView()
{
    m_preview->setOnImage({});
}

void PreviewView::setMenu(QMenu* menu)
{
    m_menu = menu;
}

QMenu* PreviewView::menu() const
{
    return m_menu;
}

void PreviewView::setRadiusFrac(double fraction)
{
    if (fraction == m_radiusFrac)
        return;
    m_radiusFrac = fraction;
    update();
}

void PreviewView::setFullScreen(bool on)
{
    if (on == m_fullScreen)
        return;
    m_fullScreen = on;
    m_exitButton->setVisible(on);
    relayout();
    update();
}

double PreviewView::cornerRadius(const QSizeF& size, double radiusFrac, bool fullScreen)
{
    return fullScreen ? 0 : std::min(size.width(), size.height()) * radiusFrac;
}

QRectF PreviewView::fillRect(const QSizeF& picture, const QRectF& bounds)
{
    if (picture.isEmpty() || bounds.isEmpty())
        return bounds;
    const double scale = std::max(bounds.width() / picture.width(), bounds.height() / picture.height());
    QRectF drawn(QPointF(), picture * scale);
    drawn.moveCenter(bounds.center());
    return drawn;
}

void PreviewView::relayout()
{
    if (m_fullScreen) {
        m_exitButton->adjustSize();
        m_exitButton->move(exitButtonMargin, exitButtonMargin);
        m_exitButton->raise();
    }
    if (onLayout)
        onLayout();
}

void PreviewView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds = rect();
    const double radius = cornerRadius(bounds.size(), m_radiusFrac, m_fullScreen);
    QPainterPath clip;
    clip.addRoundedRect(bounds, radius, radius);
    painter.setClipPath(clip);

    const QImage image = m_preview->image();
    if (image.isNull()) {
        painter.fillRect(bounds, QColor(20, 20, 20));
    } else {
        // The picture itself is never flipped: the view draws it mirrored, as
        // the preview's scale asks.
        painter.save();
        if (m_preview->scaleX() < 0) {
            painter.translate(bounds.width(), 0);
            painter.scale(-1, 1);
        }
        painter.drawImage(fillRect(image.size(), bounds), image);
        painter.restore();
    }
    if (!m_fullScreen) {
        painter.setClipping(false);
        painter.setPen(QPen(QColor(255, 255, 255, 64), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    }
}

void PreviewView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    relayout();
}

void PreviewView::contextMenuEvent(QContextMenuEvent* event)
{
    if (!m_menu)
        return;
    m_menu->popup(event->globalPos());
}

} // namespace corvessa
