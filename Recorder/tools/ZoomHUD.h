#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "platform/core/Scheduler.h"
#include "platform/core/ScreenCoordinates.h"

#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWindow;

namespace corvessa {

class FloatingSurfaces;
class ZoomBadge;

// A short message of the magnifier (the zoom factor, the mode) in a dark
// rounded badge near the top of the recorded area: shown for `holdTime`, then
// faded out over `fadeTime`. Each show restarts the wait, so quick changes keep
// the badge up with the latest text; a show during the fade stops the fade, so
// the new text is seen. Click-through, above everything. Main thread.
class ZoomHUD {
public:
    static constexpr double holdTime = 0.9;
    static constexpr double fadeTime = 0.25;
    static constexpr double height = 40;
    static constexpr double minimumWidth = 84;
    // Room on either side of the text.
    static constexpr double padding = 18;

    // `layout` gives the screens (by default Qt's, read at each show); `clock`
    // times the hold and the fade.
    ZoomHUD(Scheduler& clock, FloatingKit kit, std::function<ScreenCoordinates()> layout = {});
    ~ZoomHUD();
    ZoomHUD(const ZoomHUD&) = delete;
    ZoomHUD& operator=(const ZoomHUD&) = delete;

    // Shows `text` near the top of `near`, or of the primary
    // screen. Without a screen nothing happens.
    void show(const QString& text, const std::optional<GlobalRect>& near);

    bool isVisible() const;
    bool isFading() const { return bool(m_fade); }
    QString text() const;
    // 1 while shown, down to 0 through the fade.
    double opacity() const { return m_opacity; }
    // Null before the first show.
    ZoomBadge* badge() const { return m_badge.get(); }

    // The badge's frame for a text `textWidth` wide: centred on
    // the anchor (`near`, else the screen), its bottom 70 points below the
    // anchor's top and never less than 90 points below the screen's top.
    static GlobalRect frameFor(double textWidth, const std::optional<GlobalRect>& near, const GlobalRect& screen);

private:
    void startFade();
    void setOpacity(double opacity);

    Scheduler& m_clock;
    FloatingKit m_kit;
    std::function<ScreenCoordinates()> m_layout;
    std::unique_ptr<ZoomBadge> m_badge;
    Scheduler::TimerRef m_hold;
    Scheduler::TimerRef m_fade;
    double m_fadeStart = 0;
    double m_opacity = 1;
};

} // namespace corvessa
