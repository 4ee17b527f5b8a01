#include "toolbar/EchoHintController.h"

#include "platform/DisplayList.h"
#include "platform/FloatingSurfaces.h"
#include "platform/core/ScreenCoordinates.h"
#include "toolbar/BarPlacement.h"
#include "toolbar/HintView.h"
#include "toolbar/ToolbarPanel.h"

#include <QEvent>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvessa {

EchoHintController::EchoHintController(ToolbarPanel& panel, Setup setup) : m_panel(panel), m_setup(std::move(setup))
{
    m_panel.installEventFilter(this);
}

EchoHintController::~EchoHintController()
{
    m_panel.removeEventFilter(this);
    delete m_card;
}

QPointF EchoHintController::placedOrigin(const QRectF& bar, const QSizeF& card, const QRectF& visible)
{
    // y up: top() is the lower edge, bottom() the upper one.
    double y = bar.bottom() + gap;
    if (visible.bottom() < y + card.height())
        y = bar.top() - card.height() - gap;
    double x = bar.center().x() - card.width() / 2;
    x = std::max(x, visible.left() + gap);
    x = std::min(x, visible.right() - card.width() - gap);
    return {x, y};
}

void EchoHintController::update(const std::vector<Hint>& hints, bool barVisible, bool confirmShowing)
{
    if (hints.empty() || !barVisible || confirmShowing) {
        if (m_card)
            m_card->hide();
        return;
    }
    if (!m_card || hints != m_hintShown)
        build(hints);
    position();
    if (!m_card->isVisible()) {
        m_card->show();
        if (m_setup.surfaces)
            m_setup.surfaces->raise(m_card);
    }
}

void EchoHintController::build(const std::vector<Hint>& hints)
{
    if (!m_card) {
        m_card = new QWidget;
        m_card->setAttribute(Qt::WA_TranslucentBackground);
        m_card->setAttribute(Qt::WA_TransparentForMouseEvents);
        if (m_setup.surfaces) {
            FloatingSurfaces::Options options;
            options.level = SurfaceLevel::floating;
            options.clickThrough = true;
            m_setup.surfaces->prepare(m_card, options);
        } else {
            m_card->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                   | Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput);
            m_card->setAttribute(Qt::WA_ShowWithoutActivating);
        }
        m_card->winId();
        if (m_setup.registerWindow && m_card->windowHandle())
            m_setup.registerWindow(m_card->windowHandle());
    }
    delete m_view;
    m_view = new HintView(hints, m_card);
    m_view->move(0, 0);
    m_view->show();
    m_card->resize(m_view->size());
    m_hintShown = hints;
    ++m_builds;
    if (m_setup.surfaces) {
        QPainterPath card;
        card.addRoundedRect(m_view->cardRect(), HintView::cornerRadius, HintView::cornerRadius);
        m_setup.surfaces->setVisibleRegion(m_card, QRegion(card.toFillPolygon().toPolygon()));
    }
}

void EchoHintController::position()
{
    if (!m_card)
        return;
    const ScreenCoordinates coords = ToolbarPanel::coordinates();
    const QRectF panel = m_panel.frame();
    const QRectF bar = panel.adjusted(BarPlacement::panelInset, BarPlacement::panelInset, -BarPlacement::panelInset,
                                      -BarPlacement::panelInset);
    const std::vector<DisplayInfo> displays = DisplayList::current()->displays();
    const DisplayInfo* screen = BarPlacement::barScreen(displays, panel);
    if (!screen)
        screen = BarPlacement::primary(displays);
    const QRectF visible = screen ? screen->visibleFrame : QRectF();
    const QSizeF size = m_card->size();
    const QPointF origin = placedOrigin(bar, size, visible);
    const QPointF topLeft = coords.fromGlobal(QRectF(origin, size)).topLeft();
    m_card->move(int(std::lround(topLeft.x())), int(std::lround(topLeft.y())));
}

bool EchoHintController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_panel && event->type() == QEvent::Move && m_card && m_card->isVisible())
        position();
    return QObject::eventFilter(watched, event);
}

} // namespace corvessa
