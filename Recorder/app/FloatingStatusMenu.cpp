#include "app/FloatingStatusMenu.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "toolbar/FloatingMenu.h"

namespace corvessa {

namespace {

std::function<void()> call(const std::function<void()>& f)
{
    return [f] {
        if (f)
            f();
    };
}

} // namespace

MenuRows FloatingStatusMenu::rows(RecorderModel& model, const Actions& actions)
{
    RecorderModel* m = &model;
    MenuRows rows;
    const auto add = [&rows](const QString& title, bool checked, bool enabled, std::function<void()> action) {
        rows.push_back(MenuRow::item(title, checked, enabled, false, std::move(action)));
    };
    const RecorderPhase& phase = m->phase();
    if (phase.isLive()) {
        add(phase.is(RecorderPhase::Kind::paused) ? Loc::text(QStringLiteral("Continue Recording"))
                                                  : Loc::text(QStringLiteral("Pause Recording")),
            false, true, [m] { m->togglePause(); });
        add(Loc::text(QStringLiteral("Stop Recording")), false, true, [m] { m->requestStop(); });
    } else {
        // Shown as written, in every language.
        rows.push_back(MenuRow::note(QStringLiteral("Preparing to record…")));
    }
    rows.push_back(MenuRow::separator());

    const ToolActions& tools = actions.tools;
    add(Loc::text(QStringLiteral("Focus Magnifier")), m->focusOn(), true, call(tools.toggleFocus));
    const Prefs* prefs = m->dependencies().prefs;
    const int nextMode = prefs && prefs->focusMode() == 1 ? 0 : 1;
    add(Loc::text(QStringLiteral("Switch Magnifier Mode")), false, true, [set = tools.setFocusMode, nextMode] {
        if (set)
            set(nextMode);
    });
    const bool prompterShown = tools.teleprompterShown && tools.teleprompterShown();
    add(Loc::text(QStringLiteral("Teleprompter")), prompterShown, true, call(tools.toggleTeleprompter));
    if (m->cameraOn() && m->cameraAuthorized()) {
        add(m->cameraPreviewHidden() ? Loc::text(QStringLiteral("Show Camera Feed"))
                                     : Loc::text(QStringLiteral("Hide Camera Feed")),
            false, true, [m] { m->setCameraPreviewHidden(!m->cameraPreviewHidden()); });
    }
    add(Loc::text(QStringLiteral("Full-Screen Camera")), m->cameraFullScreen(), m->canToggleCameraFullScreen(),
        [m] { m->toggleCameraFullScreen(); });
    rows.push_back(MenuRow::separator());

    const bool barShown = actions.barVisible && actions.barVisible();
    add(barShown ? Loc::text(QStringLiteral("Hide Toolbar")) : Loc::text(QStringLiteral("Show Toolbar")), false, true,
        call(actions.toggleBar));
    add(Loc::text(QStringLiteral("Settings…")), false, true, call(actions.showSettings));
    rows.push_back(MenuRow::separator());
    add(Loc::text(QStringLiteral("Quit (Save Recording First)")), false, true, [m] { m->requestQuit(); });
    return rows;
}

bool FloatingStatusMenu::toggle(FloatingMenu& menu, double now, const QRect& anchor,
                                const std::function<MenuRows()>& rows)
{
    if (menu.dismissIfShowing(anchor))
        return false;
    if (menu.outsideClose().blocks(now, anchor))
        return false;
    menu.show(rows ? rows() : MenuRows{}, {}, anchor, std::nullopt);
    return true;
}

} // namespace corvessa
