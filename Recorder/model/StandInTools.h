#pragma once

#include "model/ToolsFacade.h"

#include <functional>

namespace corvessa {

// Answers for the on-screen tools that the program does not have yet: a pick
// is cancelled at once (with a log line), outlines and overlays are no-ops.
// The window list comes from the given source. Main thread.
class StandInTools final : public ToolsFacade {
public:
    explicit StandInTools(std::function<std::vector<WindowInfo>()> windows = {},
                          std::function<void(const QString&)> log = {});

    void pickRange(RangeMode mode, PickCompletion completion) override;
    std::vector<WindowInfo> windowList() override;
    void showLensOutline(const GlobalRect&, bool) override {}
    void hideLensOutline() override {}
    void hidePenOverlay() override {}
    bool isRegionPickOpen() const override { return false; }
    void showCountdown(int, const DisplayInfo&) override {}
    void hideCountdown() override {}

private:
    std::function<std::vector<WindowInfo>()> m_windows;
    std::function<void(const QString&)> m_log;
};

} // namespace corvessa
