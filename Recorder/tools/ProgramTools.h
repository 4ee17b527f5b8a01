#pragma once

#include "model/StandInTools.h"
#include "tools/CountdownOverlay.h"
#include "tools/Teleprompter.h"

#include <memory>

class QWindow;

namespace corvessa {

class FloatingSurfaces;
class TargetPicker;

// The on-screen tools of the program: the target picker, the countdown and the
// teleprompter are drawn; the tools not built yet answer as StandInTools does.
// Main thread.
class ProgramTools final : public ToolsFacade {
public:
    // `windows` lists the desktop's windows front to back (by default the
    // screen source's); `log` takes "[tools]" lines; `compositingActive` as for
    // CountdownOverlay; the picker's veils are made floating surfaces by
    // `surfaces` (the platform's by default) and handed to `registerWindow`.
    explicit ProgramTools(std::function<std::vector<WindowInfo>()> windows = {},
                          std::function<void(const QString&)> log = {},
                          std::function<bool()> compositingActive = {},
                          std::shared_ptr<FloatingSurfaces> surfaces = {},
                          std::function<void(QWindow*)> registerWindow = {});
    ~ProgramTools() override;

    // Window and area modes open the target picker; display mode has nothing to pick.
    void pickRange(RangeMode mode, PickCompletion completion) override;
    // The windows the picker offers: other programs' normal windows shown now.
    std::vector<WindowInfo> windowList() override;
    void showLensOutline(const QRectF& rect, bool armed) override { m_standIn.showLensOutline(rect, armed); }
    void hideLensOutline() override { m_standIn.hideLensOutline(); }
    void hidePenOverlay() override { m_standIn.hidePenOverlay(); }
    bool isRegionPickOpen() const override { return m_standIn.isRegionPickOpen(); }
    void showCountdown(int n, const DisplayInfo& display) override { m_countdown.show(n, display); }
    void hideCountdown() override { m_countdown.hide(); }

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

private:
    std::function<std::vector<WindowInfo>()> m_windows;
    std::shared_ptr<FloatingSurfaces> m_surfaces;
    std::function<void(QWindow*)> m_registerWindow;
    std::unique_ptr<TargetPicker> m_picker;
    StandInTools m_standIn;
    CountdownOverlay m_countdown;
    std::function<bool()> m_recordingActive;
    std::unique_ptr<Teleprompter> m_teleprompter;
};

} // namespace corvessa
