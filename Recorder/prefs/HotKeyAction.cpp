#include "prefs/HotKeyAction.h"

#include "prefs/Loc.h"

namespace corvessa {

namespace {

struct ActionInfo {
    HotKeyAction action;
    const char* rawValue;
    const char* title;
    qint64 defaultKeyCode;
};

// Indexed by the action's index.
constexpr std::array<ActionInfo, HotKeyActions::count> kActions{{
    {HotKeyAction::start, "start", Loc::mark("Start Recording"), 15},                      // R
    {HotKeyAction::pause, "pause", Loc::mark("Pause / Resume"), 35},                       // P
    {HotKeyAction::stop, "stop", Loc::mark("Stop Recording"), 1},                          // S
    {HotKeyAction::muteMic, "muteMic", Loc::mark("Mute Microphone"), 46},                  // M
    {HotKeyAction::toggleBar, "toggleBar", Loc::mark("Show / Hide Toolbar"), 4},           // H
    {HotKeyAction::focus, "focus", Loc::mark("Toggle Magnifier"), 3},                      // F
    {HotKeyAction::zoomIn, "zoomIn", Loc::mark("Zoom In"), 30},                            // ]
    {HotKeyAction::zoomOut, "zoomOut", Loc::mark("Zoom Out"), 33},                         // [
    {HotKeyAction::focusMode, "focusMode", Loc::mark("Switch Magnifier Mode"), 5},         // G
    {HotKeyAction::focusReselect, "focusReselect", Loc::mark("Re-select Magnifier Region"), 14}, // E
    {HotKeyAction::pen, "pen", Loc::mark("Toggle Pen"), 2},                                // D
    {HotKeyAction::restart, "restart", Loc::mark("Restart Recording"), 45},                // N
    {HotKeyAction::cancel, "cancel", Loc::mark("Cancel Recording"), 8},                    // C
    {HotKeyAction::prompter, "prompter", Loc::mark("Show / Hide Teleprompter"), 17},       // T
    {HotKeyAction::cameraFullScreen, "cameraFullScreen", Loc::mark("Toggle Full-Screen Camera"), 9}, // V
}};

constexpr bool indexedByAction()
{
    for (std::size_t i = 0; i < kActions.size(); ++i) {
        if (static_cast<std::size_t>(kActions[i].action) != i)
            return false;
    }
    return true;
}
static_assert(indexedByAction(), "the action table must be in index order");

const ActionInfo& info(HotKeyAction action)
{
    return kActions[static_cast<std::size_t>(action)];
}

} // namespace

const std::array<HotKeyAction, HotKeyActions::count>& HotKeyActions::allCases()
{
    static const std::array<HotKeyAction, count> all = [] {
        std::array<HotKeyAction, count> a{};
        for (std::size_t i = 0; i < a.size(); ++i)
            a[i] = kActions[i].action;
        return a;
    }();
    return all;
}

std::optional<HotKeyAction> HotKeyActions::fromIndex(qint64 index)
{
    if (index < 0 || index >= count)
        return std::nullopt;
    return kActions[static_cast<std::size_t>(index)].action;
}

QString HotKeyActions::rawValue(HotKeyAction action)
{
    return QString::fromLatin1(info(action).rawValue);
}

std::optional<HotKeyAction> HotKeyActions::fromRawValue(const QString& rawValue)
{
    for (const ActionInfo& a : kActions) {
        if (rawValue == QLatin1StringView(a.rawValue))
            return a.action;
    }
    return std::nullopt;
}

QString HotKeyActions::englishTitle(HotKeyAction action)
{
    return QString::fromUtf8(info(action).title);
}

QString HotKeyActions::title(HotKeyAction action)
{
    return Loc::text(englishTitle(action));
}

qint64 HotKeyActions::defaultKeyCode(HotKeyAction action)
{
    return info(action).defaultKeyCode;
}

} // namespace corvessa
