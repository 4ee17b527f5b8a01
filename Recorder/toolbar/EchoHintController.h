#pragma once

#include "model/Hint.h"
#include "platform/core/GlobalPoint.h"
#include "platform/core/GlobalRect.h"
#include "toolbar/kit/FloatingKit.h"

#include <QObject>
#include <QPointer>
#include <QSizeF>

#include <functional>
#include <memory>
#include <vector>

class QWidget;
class QWindow;

namespace corvessa {

class FloatingSurfaces;
class HintView;
class ToolbarPanel;

// The echo card: a click-through floating window beside the toolbar that
// lists the model's standing hints. Made on first show and then only shown and
// hidden; its content is rebuilt only when the list changes, and it follows
// every move of the toolbar's panel. Main thread.
class EchoHintController : public QObject {
public:
    // Between the bar and the card, and between the card and the screen's edge.
    static constexpr double gap = 8;

    struct Setup {
        // The card's surfaces and Stealth::track, which keeps it out of recordings.
        FloatingKit kit;
    };

    EchoHintController(ToolbarPanel& panel, Setup setup);
    ~EchoHintController() override;
    EchoHintController(const EchoHintController&) = delete;
    EchoHintController& operator=(const EchoHintController&) = delete;

    // Shows the card with `hints` while there are any, the toolbar shows and no
    // confirmation is open; hides it otherwise (keeping what it showed).
    void update(const std::vector<Hint>& hints, bool barVisible, bool confirmShowing);
    // Places the card beside the toolbar, when both exist.
    void position();

    // The card's window; null before the first show.
    QWidget* card() const { return m_card; }
    HintView* view() const { return m_view; }
    const std::vector<Hint>& hintShown() const { return m_hintShown; }
    // How often the content was built.
    int builds() const { return m_builds; }

    // The card's origin (its bottom-left corner) for a bar
    // at `bar` on a screen whose usable area is `visible`: 8 pt above the bar,
    // or below it when there is no room above; centred on the bar, kept 8 pt
    // inside horizontally, the right edge winning when the card is too wide.
    static GlobalPoint placedOrigin(const GlobalRect& bar, const QSizeF& card, const GlobalRect& visible);

protected:
    // Follows the panel's moves.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build(const std::vector<Hint>& hints);

    ToolbarPanel& m_panel;
    Setup m_setup;
    QPointer<QWidget> m_card;
    HintView* m_view = nullptr;
    std::vector<Hint> m_hintShown;
    int m_builds = 0;
};

} // namespace corvessa
