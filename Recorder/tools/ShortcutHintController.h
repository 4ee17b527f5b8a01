#pragma once

#include "toolbar/BarSideCard.h"
#include "toolbar/kit/FloatingKit.h"
#include "tools/ShortcutHints.h"
#include "tools/ShortcutRow.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;
class QWindow;

namespace corvessa {

class FloatingSurfaces;
class Prefs;
class RecorderModel;
class ShortcutHintView;
class ToolbarPanel;

// The shortcut hints beside the toolbar: a click-through floating card that
// lists the shortcuts of the active tools, or of the phase when none is active.
// It shows while hints are on in the preferences, the toolbar shows and no
// confirmation is open, above the toolbar (and above the echo card when that
// shows), or below when there is no room above. Made on first need and then
// only shown and hidden; rebuilt only when its rows change. Refreshes itself on
// the model's phase and tool changes and on preference changes, and follows
// the toolbar's moves. Main thread.
class ShortcutHintController : public QObject {
public:
    // Between the bar (or the echo card) and the hints.
    static constexpr double gap = 6;
    // Between the echo card and the hints stacked on it.
    static constexpr double echoGap = 2;

    struct Setup {
        // The card's surfaces and Stealth::track, which keeps it out of recordings.
        FloatingKit kit;
        // Whether a confirmation dialog is open.
        std::function<bool()> confirmShowing;
        // The echo card's window, when it exists.
        std::function<QWidget*()> echoCard;
        // Our other windows that would hide hints lying under them (the
        // camera bubble): the card keeps clear of those shown, and follows
        // them as they come, go and move.
        std::function<std::vector<QWidget*>()> covers;
    };

    ShortcutHintController(ToolbarPanel& panel, RecorderModel& model, Prefs& prefs, Setup setup);
    ~ShortcutHintController() override;
    ShortcutHintController(const ShortcutHintController&) = delete;
    ShortcutHintController& operator=(const ShortcutHintController&) = delete;

    // Shows, rebuilds or hides the card for the state of the moment.
    void refresh();

    QWidget* card() const { return m_card; }
    const std::vector<ShortcutRow>& shown() const { return m_shown; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The widest the card may be beside a bar in `around`: its screen less a gap each side.
    static int room(const BarSideCard::Surroundings& around);
    // Builds the card's content for `m_shown` in `room`.
    void build(int room);
    void position();
    // How far the echo card below pushes this one up; 0 without it.
    double stackedHeight() const;
    // Where the shown covers are, watching each.
    std::vector<GlobalRect> coverRects();
    void watchOpacity();

    ToolbarPanel& m_panel;
    RecorderModel& m_model;
    Prefs& m_prefs;
    Setup m_setup;
    QPointer<QWidget> m_card;
    ShortcutHintView* m_view = nullptr;
    std::vector<ShortcutRow> m_shown;
    // The rows and what they were made from: refreshes come every second and
    // with every change of the model, the rows change far more rarely.
    std::vector<ShortcutRow> m_rows;
    std::optional<ShortcutHints::State> m_rowsFor;
    bool m_watchingOpacity = false;
    double m_placedStack = 0;
    std::vector<GlobalRect> m_placedCovers;
    int m_builtRoom = 0; // the room the card was built for
};

} // namespace corvessa
