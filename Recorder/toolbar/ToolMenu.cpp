#include "toolbar/ToolMenu.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

namespace corvessa {

namespace {
// Wraps a callback that may be empty.
template <typename F, typename... Args>
std::function<void()> call(const F& f, Args... args)
{
    return [f, args...] {
        if (f)
            f(args...);
    };
}
} // namespace

MenuRows ToolMenu::tools(RecorderModel& m, const ToolActions& actions)
{
    const bool region = m.dependencies().prefs->focusMode() == 1;
    const RecorderPhase& phase = m.phase();
    // Outside the phases where the pen works it can still be switched off.
    const bool penUsable = phase.is(RecorderPhase::Kind::ready) || phase.isLive() || m.penOn();

    MenuRows rows;
    rows.push_back(MenuRow::item(Loc::text(QStringLiteral("Full-Screen Camera")), m.cameraFullScreen(),
                                  m.canToggleCameraFullScreen(), false, [&m] { m.toggleCameraFullScreen(); }));
    rows.push_back(MenuRow::separator());
    rows.push_back(MenuRow::item(Loc::text(QStringLiteral("Toggle Magnifier")), m.focusOn(), true, false,
                                  call(actions.toggleFocus)));
    const QString modeTitle = region ? Loc::text(QStringLiteral("Switch to Follow Cursor"))
                                     : Loc::text(QStringLiteral("Switch to Select Region"));
    rows.push_back(MenuRow::item(modeTitle, false, true, false, call(actions.setFocusMode, region ? 0 : 1)));
    if (region)
        rows.push_back(MenuRow::item(Loc::text(QStringLiteral("Re-select Magnifier Region")), false, true, false,
                                      call(actions.beginRegionPick)));
    rows.push_back(
        MenuRow::item(Loc::text(QStringLiteral("Zoom In")), false, true, false, call(actions.zoomFocus, 1)));
    rows.push_back(
        MenuRow::item(Loc::text(QStringLiteral("Zoom Out")), false, true, false, call(actions.zoomFocus, -1)));
    rows.push_back(MenuRow::separator());
    rows.push_back(MenuRow::item(Loc::text(QStringLiteral("Pen")), m.penOn(), penUsable, false,
                                  [&m, setPen = actions.setPen] {
                                      if (setPen)
                                          setPen(!m.penOn());
                                  }));
    const bool shown = actions.teleprompterShown && actions.teleprompterShown();
    rows.push_back(MenuRow::item(Loc::text(QStringLiteral("Teleprompter")), shown, true, false,
                                  call(actions.toggleTeleprompter)));
    return rows;
}

} // namespace corvessa
