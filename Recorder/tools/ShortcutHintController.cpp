#include "tools/ShortcutHintController.h"

#include "model/RecorderModel.h"
#include "platform/FloatingSurfaces.h"
#include "platform/core/ScreenCoordinates.h"
#include "prefs/LocNotifier.h"
#include "prefs/Prefs.h"
#include "toolbar/BarSideCard.h"
#include "toolbar/ToolbarPanel.h"
#include "tools/ShortcutHintView.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <algorithm>
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
    connect(&m_prefs, &Prefs::changed, this, [this] {
        m_rowsFor.reset(); // the language may have changed, and with it the texts
        refresh();
    });
    connect(&LocNotifier::instance(), &LocNotifier::languageChanged, this, [this] {
        m_rowsFor.reset();
        refresh();
    });
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
    if (wanted) {
        ShortcutHints::State state = ShortcutHints::state(m_model, m_prefs);
        if (!m_rowsFor || !(*m_rowsFor == state)) {
            m_rows = ShortcutHints::rows(state);
            m_rowsFor = std::move(state);
        }
    }
    static const std::vector<ShortcutRow> none;
    const std::vector<ShortcutRow>& rows = wanted ? m_rows : none;
    if (rows.empty()) {
        if (m_card)
            m_card->hide();
        return;
    }
    // Placing reads the displays: done for a new or returning card and when the
    // echo card below it came or went; the bar's own moves and resizes place it
    // through the event filter.
    const bool rebuilt = !m_card || rows != m_shown;
    if (rebuilt) {
        m_shown = rows;
        m_builtRoom = 0; // built for no screen: placing it builds it
    }
    if (rebuilt || !m_card->isVisible() || stackedHeight() != m_placedStack || coverRects() != m_placedCovers)
        position();
    BarSideCard::reveal(m_card, m_setup.kit);
}

int ShortcutHintController::room(const BarSideCard::Surroundings& around)
{
    return std::max(1, int(around.visible.width() - 2 * gap));
}

void ShortcutHintController::build(int room)
{
    if (!m_card)
        m_card = BarSideCard::makeWindow(m_setup.kit);
    delete m_view;
    m_view = new ShortcutHintView(m_shown, room, m_card);
    BarSideCard::setContent(m_card, m_view, m_setup.kit);
    m_builtRoom = room;
}

std::vector<GlobalRect> ShortcutHintController::coverRects()
{
    std::vector<GlobalRect> rects;
    if (!m_setup.covers)
        return rects;
    for (QWidget* cover : m_setup.covers()) {
        if (!cover)
            continue;
        cover->installEventFilter(this); // once: installing again only moves it first
        if (cover->isVisible())
            rects.push_back(ToolbarPanel::coordinates().toGlobalRect(QRectF(cover->geometry())));
    }
    return rects;
}

double ShortcutHintController::stackedHeight() const
{
    QWidget* echo = m_setup.echoCard ? m_setup.echoCard() : nullptr;
    return echo && echo->isVisible() ? echo->height() + echoGap : 0;
}

void ShortcutHintController::position()
{
    if (m_shown.empty())
        return;
    const double stacked = m_placedStack = stackedHeight();
    const BarSideCard::Surroundings around = BarSideCard::of(m_panel);
    // New rows, or another screen, where the rows may fit on fewer lines or need more.
    if (room(around) != m_builtRoom)
        build(room(around));
    m_placedCovers = coverRects();
    BarSideCard::moveTo(m_card, BarSideCard::origin(around.bar, QSizeF(m_card->size()), around.visible, gap + stacked,
                                                    m_placedCovers));
}

bool ShortcutHintController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &m_panel) {
        // A cover came, went or moved: out of its way.
        const QEvent::Type t = event->type();
        if ((t == QEvent::Move || t == QEvent::Resize || t == QEvent::Show || t == QEvent::Hide) && m_card
            && m_card->isVisible() && watched != m_card)
            position();
        return QObject::eventFilter(watched, event);
    }
    if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && m_card && m_card->isVisible())
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
