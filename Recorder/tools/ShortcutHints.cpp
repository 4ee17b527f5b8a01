#include "tools/ShortcutHints.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <initializer_list>
#include <utility>

namespace corvessa {

namespace {

using Kind = RecorderPhase::Kind;
using Entry = std::pair<HotKeyAction, const char*>;

// The items of the listed actions that have a binding, in order.
std::vector<ShortcutItem> bound(const KeyBindingMap& bindings, std::initializer_list<Entry> entries)
{
    std::vector<ShortcutItem> items;
    for (const auto& [action, label] : entries) {
        if (const auto binding = KeyBinding::bound(bindings, action))
            items.push_back({binding->display(), Loc::text(QString::fromUtf8(label))});
    }
    return items;
}

ShortcutItem escape()
{
    return {QStringLiteral("esc"), Loc::text(QStringLiteral("Exit"))};
}

ShortcutRow toolRow(ToolMode mode, const ShortcutHints::State& s)
{
    ShortcutRow row;
    switch (mode) {
    case ToolMode::focus: {
        const bool region = s.focusMode == 1;
        row.icon = region ? QStringLiteral("plus.viewfinder") : QStringLiteral("plus.magnifyingglass");
        row.title = Loc::text(QStringLiteral("Magnifier"));
        row.items = bound(s.bindings, {{HotKeyAction::zoomIn, Loc::mark("Zoom In")},
                                       {HotKeyAction::zoomOut, Loc::mark("Zoom Out")},
                                       {HotKeyAction::focusMode, Loc::mark("Mode")}});
        if (region) {
            for (ShortcutItem& item : bound(s.bindings, {{HotKeyAction::focusReselect, Loc::mark("Re-select")}}))
                row.items.push_back(std::move(item));
        }
        for (ShortcutItem& item : bound(s.bindings, {{HotKeyAction::focus, Loc::mark("Off")}}))
            row.items.push_back(std::move(item));
        row.items.push_back(escape());
        if (s.phase.is(Kind::paused))
            row.items.push_back({QString(), Loc::text(QStringLiteral("Applies when you resume"))});
        return row;
    }
    case ToolMode::pen:
        row = {QStringLiteral("pencil.tip"), Loc::text(QStringLiteral("Pen")),
               bound(s.bindings, {{HotKeyAction::pen, Loc::mark("Off")}})};
        break;
    case ToolMode::prompter:
        row = {QStringLiteral("text.justify.left"), Loc::text(QStringLiteral("Teleprompter")),
               bound(s.bindings, {{HotKeyAction::prompter, Loc::mark("Off")}})};
        break;
    case ToolMode::cameraFullScreen:
        row = {QStringLiteral("video.fill"), Loc::text(QStringLiteral("Full-Screen Camera")),
               bound(s.bindings, {{HotKeyAction::cameraFullScreen, Loc::mark("Exit Camera Full Screen")}})};
        break;
    }
    row.items.push_back(escape());
    return row;
}

} // namespace

std::vector<ShortcutRow> ShortcutHints::rows(const State& s)
{
    std::vector<ShortcutRow> rows;
    for (ToolMode mode : s.modeOrder)
        rows.push_back(toolRow(mode, s));
    if (!rows.empty())
        return rows;
    ShortcutRow general{QStringLiteral("command"), Loc::text(QStringLiteral("Shortcuts")), {}};
    switch (s.phase.kind) {
    case Kind::ready:
        general.items = bound(s.bindings, {{HotKeyAction::start, Loc::mark("Record")},
                                           {HotKeyAction::focus, Loc::mark("Magnifier")},
                                           {HotKeyAction::pen, Loc::mark("Pen")},
                                           {HotKeyAction::prompter, Loc::mark("Teleprompter")},
                                           {HotKeyAction::toggleBar, Loc::mark("Toolbar")}});
        break;
    case Kind::recording:
        general.items = bound(s.bindings, {{HotKeyAction::pause, Loc::mark("Pause")},
                                           {HotKeyAction::stop, Loc::mark("Stop")},
                                           {HotKeyAction::muteMic, Loc::mark("Mute Mic")},
                                           {HotKeyAction::focus, Loc::mark("Magnifier")},
                                           {HotKeyAction::pen, Loc::mark("Pen")},
                                           {HotKeyAction::prompter, Loc::mark("Teleprompter")}});
        break;
    case Kind::paused:
        general.items = bound(s.bindings, {{HotKeyAction::pause, Loc::mark("Resume")},
                                           {HotKeyAction::stop, Loc::mark("Stop")},
                                           {HotKeyAction::focus, Loc::mark("Magnifier")},
                                           {HotKeyAction::pen, Loc::mark("Pen")},
                                           {HotKeyAction::prompter, Loc::mark("Teleprompter")}});
        break;
    default:
        return rows;
    }
    rows.push_back(std::move(general));
    return rows;
}

ShortcutHints::State ShortcutHints::state(const RecorderModel& model, const Prefs& prefs)
{
    return State{model.modeOrder(), model.phase(), prefs.focusMode(), prefs.bindings()};
}

std::vector<ShortcutRow> ShortcutHints::rows(const RecorderModel& model, const Prefs& prefs)
{
    return rows(state(model, prefs));
}

} // namespace corvessa
