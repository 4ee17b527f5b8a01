#include "prefs/HotKeyBindings.h"
#include "tools/ShortcutHints.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace corvessa;

namespace {

using Kind = RecorderPhase::Kind;

// "Title: label label ..." per row; an item with a key is marked with '+'.
QStringList describe(const std::vector<ShortcutRow>& rows)
{
    QStringList out;
    for (const ShortcutRow& r : rows) {
        QString line = r.icon + QLatin1Char(' ') + r.title + QLatin1Char(':');
        for (const ShortcutItem& i : r.items)
            line += QLatin1Char(' ') + (i.key.isEmpty() ? QString() : QStringLiteral("+")) + i.label;
        out << line;
    }
    return out;
}

} // namespace

TEST(ShortcutHints, RowsPerModeAndPhase)
{
    KeyBindingMap noZoomIn = HotKeyBindings::defaults();
    noZoomIn.erase(HotKeyAction::zoomIn);
    using M = ToolMode;
    struct Case {
        std::vector<ToolMode> modes;
        RecorderPhase phase;
        int focusMode;
        KeyBindingMap bindings;
        QStringList rows;
    };
    const Case cases[] = {
        {{}, RecorderPhase::ready(), 0, HotKeyBindings::defaults(),
         {"command Shortcuts: +Record +Magnifier +Pen +Teleprompter +Toolbar"}},
        {{}, RecorderPhase::recording(), 0, HotKeyBindings::defaults(),
         {"command Shortcuts: +Pause +Stop +Mute Mic +Magnifier +Pen +Teleprompter"}},
        {{}, RecorderPhase::paused(), 0, HotKeyBindings::defaults(), {"command Shortcuts: +Resume +Stop +Magnifier +Pen +Teleprompter"}},
        {{}, RecorderPhase::ready(), 0, {}, {"command Shortcuts:"}},
        {{}, RecorderPhase::saved("/x.mov"), 0, HotKeyBindings::defaults(), {}},
        {{}, RecorderPhase::failed("no"), 0, HotKeyBindings::defaults(), {}},
        {{}, RecorderPhase::countdown(2), 0, HotKeyBindings::defaults(), {}},
        {{}, RecorderPhase::finishing(), 0, HotKeyBindings::defaults(), {}},
        {{M::focus, M::pen}, RecorderPhase::ready(), 0, HotKeyBindings::defaults(),
         {"plus.magnifyingglass Magnifier: +Zoom In +Zoom Out +Mode +Off +Exit", "pencil.tip Pen: +Off +Exit"}},
        {{M::pen, M::focus}, RecorderPhase::paused(), 1, noZoomIn,
         {"pencil.tip Pen: +Off +Exit",
          "plus.viewfinder Magnifier: +Zoom Out +Mode +Re-select +Off +Exit Applies when you resume"}},
        {{M::prompter, M::cameraFullScreen}, RecorderPhase::finishing(), 0, {},
         {"text.justify.left Teleprompter: +Exit", "video.fill Full-Screen Camera: +Exit"}},
        {{M::cameraFullScreen}, RecorderPhase::recording(), 0, HotKeyBindings::defaults(),
         {"video.fill Full-Screen Camera: +Exit Camera Full Screen +Exit"}},
    };
    for (const Case& c : cases) {
        const auto rows = ShortcutHints::rows({c.modes, c.phase, c.focusMode, c.bindings});
        EXPECT_EQ(describe(rows), c.rows);
        for (const ShortcutRow& r : rows) {
            for (const ShortcutItem& i : r.items) {
                if (i.label == QLatin1String("Exit")) {
                    EXPECT_EQ(i.key, QStringLiteral("esc"));
                }
            }
        }
    }
    // Key caps show the binding as the rest of the program does.
    const auto rows = ShortcutHints::rows({{M::pen}, RecorderPhase::ready(), 0, HotKeyBindings::defaults()});
    EXPECT_EQ(rows.front().items.front().key, KeyBinding::defaultFor(HotKeyAction::pen).display());
}
