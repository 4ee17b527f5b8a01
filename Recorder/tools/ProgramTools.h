#pragma once

#include "model/StandInTools.h"
#include "tools/CountdownOverlay.h"

namespace corvessa {

// The on-screen tools of the program: the countdown is drawn; the tools not
// built yet answer as StandInTools does. Main thread.
class ProgramTools final : public ToolsFacade {
public:
    // `windows` lists other programs' windows; `log` takes "[tools]" lines;
    // `compositingActive` as for CountdownOverlay.
    explicit ProgramTools(std::function<std::vector<WindowInfo>()> windows = {},
                          std::function<void(const QString&)> log = {},
                          std::function<bool()> compositingActive = {});

    void pickRange(RangeMode mode, PickCompletion completion) override;
    std::vector<WindowInfo> windowList() override { return m_standIn.windowList(); }
    void showLensOutline(const QRectF& rect, bool armed) override { m_standIn.showLensOutline(rect, armed); }
    void hideLensOutline() override { m_standIn.hideLensOutline(); }
    void hidePenOverlay() override { m_standIn.hidePenOverlay(); }
    bool isRegionPickOpen() const override { return m_standIn.isRegionPickOpen(); }
    void showCountdown(int n, const DisplayInfo& display) override { m_countdown.show(n, display); }
    void hideCountdown() override { m_countdown.hide(); }

    const CountdownOverlay& countdown() const { return m_countdown; }

private:
    StandInTools m_standIn;
    CountdownOverlay m_countdown;
};

} // namespace corvessa
