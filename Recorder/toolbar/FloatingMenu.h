#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "platform/OutsideClickMonitor.h"
#include "platform/core/Scheduler.h"
#include "toolbar/MenuPresenter.h"
#include "model/MenuRow.h"
#include "toolbar/ReopenGuard.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QWindow;

namespace corvessa {

class FloatingMenuView;
class HotKeyCenter;

// The program's one pop-up menu: a floating, never-focused panel beside an
// anchor (usually a toolbar control) that shows MenuRow rows, stays out of
// recordings and closes on any press outside it. Opening a menu closes the one
// that was open. While open it can rebuild itself from a provider, but only
// when what it shows changed, so a slider being dragged is never replaced.
// Coordinates are Qt global points (y down). Main thread.
class FloatingMenu : public QObject, public MenuPresenter {
public:
    // Gap between the card and what it opens beside, and between the card and
    // the screen's edge.
    static constexpr int gap = 8;
    // The scrolling rows are never shorter than this, however little room.
    static constexpr int minimumScrollHeight = 44;
    // How long a press seen in our own windows may still be echoed by the
    // outside-click monitor, which sees every press on the screen.
    static constexpr double echoWindow = 0.5;

    // `kit` makes the panel a floating surface and keeps it out of
    // recordings; `clicks` reports presses anywhere (it may observe nothing:
    // presses in our own windows are seen anyway). `clock` times the outside
    // closes.
    FloatingMenu(Scheduler& clock, FloatingKit kit, std::shared_ptr<OutsideClickMonitor> clicks);
    ~FloatingMenu() override;
    FloatingMenu(const FloatingMenu&) = delete;
    FloatingMenu& operator=(const FloatingMenu&) = delete;

    // The program's instance, set at start-up; null when none is (tests).
    static FloatingMenu* shared();
    static void setShared(FloatingMenu* menu);

    // Closes any open menu and opens one for `specs` beside `anchor`. The
    // provider, when given, re-creates the rows on refresh(). `avoiding`, when
    // given, decides above or below instead of the anchor.
    void show(MenuRows specs, MenuProvider provider, const QRect& anchor, std::optional<QRect> avoiding);
    // Closes the menu if one is open; safe at any time.
    void dismiss();
    // Told true when a menu opens and false when the last one closes (never
    // in between when one menu replaces another): Escape closes it.
    std::function<void(bool open)> onOpenChanged;
    // Sets onOpenChanged so that Escape, held through `keys` while a menu is
    // open, closes it. `keys` outlives the menu or is told first.
    void closeOnEscape(HotKeyCenter& keys);
    // Rebuilds and re-places an open menu from its provider when, and only
    // when, the rows' signature changed.
    void refresh();

    bool isShowingFor(const QRect& anchor) const override;
    bool dismissIfShowing(const QRect& rect) override;
    ReopenGuard outsideClose() const override { return m_closed; }

    bool isVisible() const;
    // The panel's window; null while closed.
    QWidget* panel() const { return m_window; }
    // The current content; null while closed.
    FloatingMenuView* view() const { return m_window ? m_view : nullptr; }
    // The anchor of the open (or last) menu.
    QRect anchorRect() const { return m_anchorRect; }
    QString signature() const { return m_signature; }
    // How many times content was built (each show and each rebuilding refresh).
    int contentBuilds() const { return m_builds; }

    // What tells one list of rows from another: titles, texts and flags, never
    // the closures nor a slider's value.
    static QString signatureOf(const MenuRows& specs);
    // Where the panel of `size` (card plus shadow margin) goes: centred on the
    // anchor and kept with its card `gap` inside `visible` horizontally; `gap`
    // above `measured` when there is at least as much room above as below,
    // else `gap` below, not clamped vertically.
    static QPoint placedOrigin(const QRect& visible, const QRect& anchor, const QRect& measured, const QSize& size);
    // The height the rows scroll in for a card of `cardHeight`, or nothing when
    // the card fits in the larger room beside `measured` (less `gap`).
    static std::optional<int> scrollHeight(const QRect& visible, const QRect& measured, int cardHeight);
    // The usable area of the first screen that meets `anchor`, else of the
    // primary screen; empty without screens.
    static QRect visibleFrameFor(const QRect& anchor);

protected:
    // Sees presses in the program's own windows; never takes them.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRect measured() const { return m_avoid.value_or(m_anchorRect); }
    // Closes the window, telling no one.
    void closeWindow();
    void tellOpen(bool open);
    // Builds the content for `rows` into the panel and places it.
    void build(const MenuRows& rows);
    // A press at `position` (global): outside the panel it closes the menu.
    void pressed(const QPointF& position);
    void monitorPressed(const QPointF& position, int button);

    Scheduler& m_clock;
    FloatingKit m_kit;
    std::shared_ptr<OutsideClickMonitor> m_clicks;

    QPointer<QWidget> m_window;
    // Owned by m_window.
    FloatingMenuView* m_view = nullptr;
    // Present while a menu is open; the monitor lets it go mid-report.
    std::unique_ptr<OutsideClickMonitor::Subscription> m_subscription;
    MenuProvider m_provider;
    QString m_signature;
    QRect m_anchorRect;
    std::optional<QRect> m_avoid;
    ReopenGuard m_closed;
    int m_builds = 0;
    bool m_toldOpen = false;

    // The last press our own windows saw, open menu or not, so that the
    // monitor's report of the same press, which may come after the menu that
    // press opened, neither closes that menu nor counts twice.
    struct OwnPress {
        QPointF position;
        int button = 0;
        double at = 0;
    };
    std::optional<OwnPress> m_ownPress;
};

} // namespace corvessa
