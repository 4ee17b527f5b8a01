#include "toolbar/ToolActions.h"

#include "model/RecorderModel.h"
#include "platform/core/ScreenCoordinates.h"
#include "toolbar/ToolbarPanel.h"

namespace corvessa {

ToolActions ToolActions::forModel(RecorderModel& m)
{
    ToolActions a;
    a.toggleFocus = [&m] { m.toggleFocus(); };
    a.setFocusMode = [&m](int mode) { m.setFocusMode(mode); };
    a.beginRegionPick = [&m] { m.beginRegionPick(); };
    a.zoomFocus = [&m](int step) { m.zoomFocus(step); };
    a.setPen = [&m](bool on) { m.setPen(on); };
    a.teleprompterShown = [&m] { return m.prompterShown(); };
    a.toggleTeleprompter = [&m] { m.togglePrompter(); };
    a.tapMagnifier = [&m] { m.tapMagnifier(); };
    a.showPenMenu = [&m](const QRect& anchor) {
        m.showPenMenu(ToolbarPanel::coordinates().toGlobalRect(QRectF(anchor)));
    };
    return a;
}

} // namespace corvessa
