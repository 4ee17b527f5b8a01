#include "toolbar/ToolbarHost.h"

#include "model/RecorderModel.h"
#include "platform/DisplayList.h"
#include "platform/FloatingSurfaces.h"
#include "platform/PointerService.h"
#include "platform/QtScreenChanges.h"
#include "platform/core/UserDefaults.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "toolbar/BarDocking.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/TipWindow.h"
#include "toolbar/ToolbarPanel.h"

#include <QTimer>
#include <QWindow>

namespace corvessa {

ToolbarHost::ToolbarHost(RecorderModel& model, Prefs& prefs, Setup setup)
    : m_model(model)
    , m_kit(std::move(setup.kit))
    , m_throttle(new QTimer(this))
{
    Scheduler& scheduler = *model.dependencies().scheduler;
    m_tips = std::make_unique<TipWindow>(scheduler, m_kit);
    m_menu = std::make_unique<FloatingMenu>(scheduler, m_kit, std::move(setup.clicks));

    BarView::Services services = std::move(setup.bar);
    services.scheduler = &scheduler;
    services.tips = m_tips.get();
    services.menu = m_menu.get();
    services.registerWindow = m_kit.registerWindow();
    m_bar = new BarView(model, prefs, std::move(services));
    BarView::sizeChanged = [this] { QTimer::singleShot(0, this, [this] { sync(); }); };

    m_panel = std::make_unique<ToolbarPanel>(m_bar.data(), m_kit.sharedSurfaces(), BarView::cornerRadius);
    m_panel->setWindowTitle(Loc::text(QStringLiteral("Corvessa")));
    m_kit.track(m_panel.get());

    BarDocking::Hooks hooks;
    hooks.displays = [] { return DisplayList::current()->displays(); };
    hooks.leftButtonDown = [] {
        const auto state = PointerService::current()->state();
        return state && state->primaryDown;
    };
    hooks.dismissMenu = [this] { m_menu->dismiss(); };
    m_docking = std::make_unique<BarDocking>(*m_panel, UserDefaults::standard(), scheduler, std::move(hooks));
    m_panel->setOnMoved([this] { m_docking->panelMoved(); });
    m_docking->restore();

    // Displays added, removed or rearranged: the bar keeps its cell or its place.
    QtScreenChanges::follow(this, [this] { m_docking->placeBar(false); });

    connect(&model, &RecorderModel::changed, this, [this](RecorderModel::Field field) {
        if (field == RecorderModel::Field::phase)
            QTimer::singleShot(0, this, [this] { sync(); });
        if (!m_throttle->isActive())
            m_throttle->start();
    });
    connect(&prefs, &Prefs::changed, this, [this](Prefs::Key key) {
        if (key == Prefs::Key::compactRecordingBar)
            QTimer::singleShot(0, this, [this] { sync(); });
    });
    // The model changes many times a second while recording; the open menu
    // and the panel's size follow at most every 80 ms.
    m_throttle->setSingleShot(true);
    m_throttle->setInterval(80);
    connect(m_throttle, &QTimer::timeout, this, [this] { modelSettled(); });
}

ToolbarHost::~ToolbarHost()
{
    BarView::sizeChanged = nullptr;
    m_docking.reset();
    m_panel.reset();
}

bool ToolbarHost::isVisible() const
{
    return m_panel->isVisible();
}

void ToolbarHost::setVisible(bool visible)
{
    if (visible) {
        m_panel->show();
        raise();
        m_docking->placeBar(false);
    } else {
        m_menu->dismiss();
        m_tips->hide();
        m_panel->hide();
    }
}

void ToolbarHost::raise()
{
    m_kit.raise(m_panel.get());
}

bool ToolbarHost::countdown(bool starting)
{
    if (starting) {
        m_hiddenForCountdown = isVisible();
        if (m_hiddenForCountdown)
            setVisible(false);
        return m_hiddenForCountdown;
    }
    if (!m_hiddenForCountdown)
        return false;
    m_hiddenForCountdown = false;
    setVisible(true);
    return true;
}

void ToolbarHost::sync()
{
    const double opacity = m_docking->sync(m_model.phase().is(RecorderPhase::Kind::countdown));
    m_panel->setWindowOpacity(opacity);
}

void ToolbarHost::modelSettled()
{
    m_menu->refresh();
    m_docking->modelChanged();
    if (onModelSettled)
        onModelSettled();
}

} // namespace corvessa
