#include "tools/ProgramTools.h"

#include "platform/FloatingSurfaces.h"
#include "platform/OutsideClickMonitor.h"
#include "platform/QtScreenLayout.h"
#include "platform/ScreenSource.h"
#include "platform/core/MainLoopScheduler.h"
#include "toolbar/FloatingMenu.h"
#include "tools/LensOverlay.h"
#include "tools/MagnifierPanel.h"
#include "tools/PenOverlay.h"
#include "tools/RegionPicker.h"
#include "tools/TargetPicker.h"
#include "tools/ZoomHUD.h"

#include <unistd.h>

#include <utility>

namespace corvessa {

ProgramTools::ProgramTools(std::function<std::vector<WindowInfo>()> windows,
                           std::function<void(const QString&)> log, std::function<bool()> compositingActive,
                           FloatingKit kit)
    : m_windows(std::move(windows))
    , m_kit(std::move(kit))
    , m_countdown(std::move(compositingActive))
    , m_log(std::move(log))
{
    if (!m_windows) {
        m_windows = [] {
            const auto content = ScreenSource::current()->content();
            return content ? content->windows : std::vector<WindowInfo>{};
        };
    }
    Teleprompter::Setup prompter;
    prompter.kit = m_kit;
    prompter.recordingActive = [this] { return m_recordingActive && m_recordingActive(); };
    m_teleprompter = std::make_unique<Teleprompter>(std::move(prompter));
}

ProgramTools::~ProgramTools() = default;

std::vector<WindowInfo> ProgramTools::windowList()
{
    return TargetPicker::pickable(m_windows(), ::getpid());
}

void ProgramTools::pickRange(RangeMode mode, PickCompletion completion)
{
    if (mode == RangeMode::display) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    if (!m_picker)
        m_picker = std::make_unique<TargetPicker>(m_kit, [this] { return windowList(); });
    m_picker->pick(mode, std::move(completion));
}

// ---- Magnifier

LensOverlay& ProgramTools::lensOverlay()
{
    if (!m_lens)
        m_lens = std::make_unique<LensOverlay>(m_kit);
    return *m_lens;
}

RegionPicker& ProgramTools::regionPicker()
{
    if (!m_regionPicker)
        m_regionPicker = std::make_unique<RegionPicker>(m_kit, m_log);
    return *m_regionPicker;
}

ZoomHUD& ProgramTools::zoomHUD()
{
    if (!m_zoomHUD)
        m_zoomHUD = std::make_unique<ZoomHUD>(MainLoopScheduler::shared(), m_kit);
    return *m_zoomHUD;
}

MagnifierPanel& ProgramTools::magnifierPanel()
{
    if (!m_magnifierPanel) {
        MagnifierPanel::Setup setup;
        setup.clock = &MainLoopScheduler::shared();
        setup.kit = m_kit;
        setup.clicks = OutsideClickMonitor::current();
        m_magnifierPanel = std::make_unique<MagnifierPanel>(std::move(setup));
    }
    return *m_magnifierPanel;
}

void ProgramTools::showLensOutline(const GlobalRect& rect, bool armed)
{
    lensOverlay().update(rect, armed);
}

void ProgramTools::hideLensOutline()
{
    if (m_lens)
        m_lens->hide();
}

bool ProgramTools::isRegionPickOpen() const
{
    return m_regionPicker && m_regionPicker->isOpen();
}

void ProgramTools::pickRegion(const GlobalRect& region, double defaultFrac, RegionCompletion completion)
{
    regionPicker().pick(region, defaultFrac, std::move(completion));
}

void ProgramTools::cancelRegionPick()
{
    if (m_regionPicker)
        m_regionPicker->finish(std::nullopt);
}

void ProgramTools::showZoomHUD(const QString& text, const std::optional<GlobalRect>& near)
{
    zoomHUD().show(text, near);
}

void ProgramTools::dismissMagnifierPanel()
{
    if (m_magnifierPanel)
        m_magnifierPanel->dismiss();
}

void ProgramTools::openMagnifierPanel(const QRect& anchor, std::function<void(int mode)> setFocusMode)
{
    magnifierPanel().show(anchor, std::move(setFocusMode));
}

// ---- Pen

void ProgramTools::showPenOverlay(const DisplayInfo& display)
{
    if (!m_pen) {
        m_pen = std::make_unique<PenOverlay>(m_kit.sharedSurfaces());
    }
    m_pen->show(display);
}

void ProgramTools::hidePenOverlay()
{
    if (m_pen)
        m_pen->hide();
}

// ---- Floating menu

void ProgramTools::showMenu(MenuRows rows, const GlobalRect& anchor)
{
    FloatingMenu* menu = FloatingMenu::shared();
    if (!menu)
        return;
    menu->show(std::move(rows), {}, QtScreenLayout::current().fromGlobal(anchor).toAlignedRect(), std::nullopt);
}

void ProgramTools::dismissFloatingMenu()
{
    if (FloatingMenu* menu = FloatingMenu::shared())
        menu->dismiss();
}

} // namespace corvessa
