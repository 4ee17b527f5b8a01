#include "toolbar/ToolbarPanel.h"

#include "platform/FloatingSurfaces.h"
#include "platform/QtScreenLayout.h"
#include "platform/core/ScreenCoordinates.h"
#include "toolbar/DragHandle.h"
#include "toolbar/kit/FloatingWindow.h"

#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>

namespace corvessa {

namespace {
const int inset = int(BarPlacement::panelInset);
} // namespace

ToolbarPanel::ToolbarPanel(QWidget* content, std::shared_ptr<FloatingSurfaces> surfaces, double cornerRadius)
    : m_content(content)
    , m_kit(std::move(surfaces))
    , m_cornerRadius(cornerRadius)
    , m_animation(new QPropertyAnimation(this, "pos", this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    m_kit.prepare(this, {SurfaceLevel::floating, false, false});
    if (m_content)
        m_content->setParent(this);
    m_animation->setDuration(animationMs);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    // Only the bar drags, not the transparent margin around it; a drag stops
    // any placing animation so the two never fight over the position.
    m_drag = new DragHandle(
        this, [this](const QPoint& p) { return barArea().contains(p); }, [this] { m_animation->stop(); });
    resize(fittingSize().toSize());
}

ToolbarPanel::~ToolbarPanel() = default;

bool ToolbarPanel::dragging() const
{
    return m_drag->dragging();
}

ScreenCoordinates ToolbarPanel::coordinates()
{
    return QtScreenLayout::current();
}

GlobalRect ToolbarPanel::frame() const
{
    return coordinates().toGlobalRect(QRectF(geometry()));
}

void ToolbarPanel::setFrame(const GlobalRect& frame, bool animate)
{
    const QRect target = coordinates().fromGlobal(frame).toRect();
    m_animation->stop();
    m_moving = true;
    if (target.size() != size())
        resize(target.size());
    // move() places the window frame, which a window manager's border would
    // shift from the content.
    const QPoint position = target.topLeft() - (geometry().topLeft() - pos());
    if (position != pos()) {
        if (animate && QWidget::isVisible()) {
            m_animation->setStartValue(pos());
            m_animation->setEndValue(position);
            m_animation->start();
        } else {
            move(position);
        }
    }
    m_ownPosition = position;
    m_moving = false;
}

QSizeF ToolbarPanel::fittingSize() const
{
    // The content draws the bar inside its own transparent margin (where its
    // shadow falls), so the window is the content's size.
    QSize content = m_content ? m_content->sizeHint() : QSize(2 * inset, 2 * inset);
    if (!content.isValid())
        content = m_content->size();
    return QSizeF(content);
}

QRect ToolbarPanel::barArea() const
{
    return rect().adjusted(inset, inset, -inset, -inset);
}

bool ToolbarPanel::movingItself() const
{
    return m_moving || m_animation->state() == QAbstractAnimation::Running;
}

void ToolbarPanel::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (movingItself())
        return;
    // A hidden window's move arrives when it is shown, and the window system
    // confirms each move later: a move to where we put it is still ours.
    if (m_ownPosition == pos())
        return;
    m_ownPosition.reset();
    if (m_moved)
        m_moved();
}

void ToolbarPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const QRect bar = barArea();
    if (m_content)
        m_content->setGeometry(rect());
    m_kit.showOnlyCard(this, QRectF(bar), m_cornerRadius);
}

void ToolbarPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Raised once the window system has been asked to map it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (QWidget::isVisible())
                m_kit.raise(this);
        },
        Qt::QueuedConnection);
}

} // namespace corvessa
