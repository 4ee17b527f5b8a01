#include "toolbar/EchoHintController.h"

#include "platform/FloatingSurfaces.h"
#include "toolbar/BarSideCard.h"
#include "toolbar/HintView.h"
#include "toolbar/ToolbarPanel.h"

#include <QEvent>
#include <QWidget>

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

GlobalPoint EchoHintController::placedOrigin(const GlobalRect& bar, const QSizeF& card, const GlobalRect& visible)
{
    return BarSideCard::origin(bar, card, visible, gap);
}

void EchoHintController::update(const std::vector<Hint>& hints, bool barVisible, bool confirmShowing)
{
    if (hints.empty() || !barVisible || confirmShowing) {
        if (m_card)
            m_card->hide();
        return;
    }
    // Placing reads the displays: done for a new or returning card; the bar's
    // own moves and resizes place it through the event filter.
    const bool rebuilt = !m_card || hints != m_hintShown;
    if (rebuilt)
        build(hints);
    if (rebuilt || !m_card->isVisible())
        position();
    BarSideCard::reveal(m_card, m_setup.kit);
}

void EchoHintController::build(const std::vector<Hint>& hints)
{
    if (!m_card)
        m_card = BarSideCard::makeWindow(m_setup.kit);
    delete m_view;
    m_view = new HintView(hints, m_card);
    BarSideCard::setContent(m_card, m_view, m_setup.kit);
    m_hintShown = hints;
    ++m_builds;
}

void EchoHintController::position()
{
    if (!m_card)
        return;
    const BarSideCard::Surroundings around = BarSideCard::of(m_panel);
    BarSideCard::moveTo(m_card, placedOrigin(around.bar, QSizeF(m_card->size()), around.visible));
}

bool EchoHintController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_panel && (event->type() == QEvent::Move || event->type() == QEvent::Resize) && m_card
        && m_card->isVisible())
        position();
    return QObject::eventFilter(watched, event);
}

} // namespace corvessa
