#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "model/ToolsFacade.h"
#include "tools/CountdownOverlay.h"
#include "tools/Teleprompter.h"

#include <memory>

class QRect;
class QWindow;

namespace corvessa {

class FloatingSurfaces;
class LensOverlay;
class MagnifierPanel;
class RegionPicker;
class PenOverlay;
class TargetPicker;
class ZoomHUD;

// The on-screen tools of the program, each window made on first use: the
// target and region pickers, the countdown, the lens outline, the magnifier
// card and zoom message, the pen canvas, the teleprompter, and the toolbar's
// floating menu for the model's menus. Main thread.
class ProgramTools final : public ToolsFacade {
public:
    // `windows` lists the desktop's windows front to back (by default the
    // screen source's); `log` takes "[tools]" lines; `compositingActive` as for
    // CountdownOverlay; the tools' windows are made floating surfaces and kept
    // out of recordings by `kit` (the platform's surfaces by default).
    explicit ProgramTools(std::function<std::vector<WindowInfo>()> windows = {},
                          std::function<void(const QString&)> log = {},
                          std::function<bool()> compositingActive = {},
                          FloatingKit kit = FloatingKit::platform());
    ~ProgramTools() override;

    // Window and area modes open the target picker; display mode has nothing to pick.
    void pickRange(RangeMode mode, PickCompletion completion) override;
    // The windows the picker offers: other programs' normal windows shown now.
    std::vector<WindowInfo> windowList() override;
    void showCountdown(int n, const DisplayInfo& display) override { m_countdown.show(n, display); }
    void hideCountdown() override { m_countdown.hide(); }

    // Pen: the drawing canvas over one display, made on first use.
    void showPenOverlay(const DisplayInfo& display) override;
    void hidePenOverlay() override;
    PenOverlay* penOverlay() const { return m_pen.get(); }
    // The teleprompter, made with the tools (its panel on the first show).
    // `recordingActive` tells it whether to come up without taking the
    // keyboard; connect its onShownChanged to the model.
    bool isTeleprompterShown() const override { return m_teleprompter->isShown(); }
    void showTeleprompter() override { m_teleprompter->show(); }
    void hideTeleprompter() override { m_teleprompter->hide(); }
    Teleprompter& teleprompter() { return *m_teleprompter; }
    void setRecordingActive(std::function<bool()> recordingActive) { m_recordingActive = std::move(recordingActive); }

    const CountdownOverlay& countdown() const { return m_countdown; }
    // Made on the first pick.
    TargetPicker* picker() const { return m_picker.get(); }

    // ---- Magnifier: the lens outline, the region picker, the zoom HUD and the
    // settings card, each made on first use.
    void showLensOutline(const GlobalRect& rect, bool armed) override;
    void hideLensOutline() override;
    bool isRegionPickOpen() const override;
    // "[region]" lines go to the log.
    void pickRegion(const GlobalRect& region, double defaultFrac, RegionCompletion completion) override;
    void cancelRegionPick() override;
    void showZoomHUD(const QString& text, const std::optional<GlobalRect>& near) override;
    void dismissMagnifierPanel() override;
    // Opens the settings card beside the toolbar control at `anchor` (Qt global
    // points, y down); its mode segments call `setFocusMode`.
    void openMagnifierPanel(const QRect& anchor, std::function<void(int mode)> setFocusMode);

    // The toolbar's floating menu (the pen-tool menu is one).
    void showMenu(MenuRows rows, const GlobalRect& anchor) override;
    void dismissFloatingMenu() override;
    LensOverlay& lensOverlay();
    RegionPicker& regionPicker();
    ZoomHUD& zoomHUD();
    MagnifierPanel& magnifierPanel();

private:
    std::function<std::vector<WindowInfo>()> m_windows;
    FloatingKit m_kit;
    std::unique_ptr<TargetPicker> m_picker;
    CountdownOverlay m_countdown;
    std::function<void(const QString&)> m_log;
    std::unique_ptr<LensOverlay> m_lens;
    std::unique_ptr<RegionPicker> m_regionPicker;
    std::unique_ptr<ZoomHUD> m_zoomHUD;
    std::unique_ptr<MagnifierPanel> m_magnifierPanel;
    std::unique_ptr<PenOverlay> m_pen;
    std::function<bool()> m_recordingActive;
    std::unique_ptr<Teleprompter> m_teleprompter;
};

} // namespace corvessa
