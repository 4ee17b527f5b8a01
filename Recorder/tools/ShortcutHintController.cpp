#include "tools/ShortcutHintController.h"

#include "model/RecorderModel.h"
#include "platform/FloatingSurfaces.h"
#include "prefs/Prefs.h"
#include "toolbar/BarSideCard.h"
#include "toolbar/ToolbarPanel.h"
#include "tools/ShortcutHintView.h"
#include "tools/ShortcutHints.h"

#include <QEvent>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace corvessa {

ShortcutHintController::ShortcutHintController(ToolbarPanel& panel, RecorderModel& model, Prefs& prefs, Setup setup)
    : m_panel(panel), m_model(model), m_prefs(prefs), m_setup(std::move(setup))
{
    m_panel.installEventFilter(this);
    connect(&m_model, &RecorderModel::changed, this, [this](RecorderModel::Field field) {
        if (field == RecorderModel::Field::phase || field == RecorderModel::Field::modeOrder)
            refresh();
    });
    connect(&m_prefs, &Prefs::changed, this, [this] { refresh(); });
    watchOpacity();
}

// The bar's window exists once it was first shown.
void ShortcutHintController::watchOpacity()
{
    QWindow* window = m_panel.windowHandle();
    if (!window || m_watchingOpacity)
        return;
    m_watchingOpacity = true;
    connect(window, &QWindow::opacityChanged, this, [this] { refresh(); });
}

ShortcutHintController::~ShortcutHintController()
{
    m_panel.removeEventFilter(this);
    delete m_card;
}

void ShortcutHintController::refresh()
{
    const bool wanted = m_prefs.showShortcutHints() && m_panel.isVisible() && m_panel.windowOpacity() > 0.5
        && !(m_setup.confirmShowing && m_setup.confirmShowing());
    const std::vector<ShortcutRow> rows = wanted ? ShortcutHints::rows(m_model, m_prefs) : std::vector<ShortcutRow>{};
    if (rows.empty()) {
        if (m_card)
            m_card->hide();
        return;
    }
    if (!m_card || rows != m_shown)
        build(rows);
    position();
    BarSideCard::reveal(m_card, m_setup.surfaces);
}

void ShortcutHintController::build(const std::vector<ShortcutRow>& rows)
{
    if (!m_card) {
        m_card = BarSideCard::makeWindow(m_setup.surfaces, m_setup.registerWindow);
        m_shown.clear();
    }
    delete m_view;
    m_view = new ShortcutHintView(rows, m_card);
    m_view->move(0, 0);
    m_view->show();
    m_card->resize(m_view->size());
    m_shown = rows;
    if (m_setup.surfaces) {
        QPainterPath card;
        card.addRoundedRect(m_view->cardRect(), ShortcutHintView::cornerRadius, ShortcutHintView::cornerRadius);
        m_setup.surfaces->setVisibleRegion(m_card, QRegion(card.toFillPolygon().toPolygon()));
    }
}

void ShortcutHintController::position()
{
    if (!m_card)
        return;
    QWidget* echo = m_setup.echoCard ? m_setup.echoCard() : nullptr;
    const double stacked = echo && echo->isVisible() ? echo->height() + echoGap : 0;
    const BarSideCard::Surroundings around = BarSideCard::of(m_panel);
    BarSideCard::moveTo(m_card, BarSideCard::origin(around.bar, QSizeF(m_card->size()), around.visible, gap + stacked));
}

bool ShortcutHintController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &m_panel)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Move && m_card && m_card->isVisible())
        position();
    // The card comes and goes with the bar: hidden for a countdown, faded
    // out and back in, shown again after the phase that wants hints began.
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
        watchOpacity();
        refresh();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace corvessa
