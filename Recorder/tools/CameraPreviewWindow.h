#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "platform/DisplayInfo.h"
#include "platform/core/Scheduler.h"

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QTimer;
class QWidget;
class QWindow;

namespace corvessa {

class CameraSession;
class FloatingSurfaces;
class Prefs;
class PreviewView;
class RecorderModel;
class UserDefaults;

// The camera bubble: while the camera is live and its preview not hidden, a
// small floating window showing the camera that the user drags anywhere;
// dropped near a corner of a screen it snaps into it. Its size and shape
// follow the camera preferences, it can cover a whole display (the full-screen
// camera scene), and whatever it looks like on screen is pushed into the
// camera overlay state, from which the compositor draws the camera into
// recordings. The window is made on the first show and kept; it belongs to
// the program, so recordings leave it out. Follows the model (at most every
// 80 ms), the camera preferences and the display layout by itself. Main thread.
class CameraPreviewWindow : public QObject {
public:
    // Kept between the bubble and its screen's visible edges.
    static constexpr double margin = 16;
    // A bubble snaps to a corner whose position is this close on both axes.
    static constexpr double snapDistance = 110;
    // The bubble opens this far above the toolbar's bar.
    static constexpr double barGap = 14;
    // A saved origin counts only when the point this far inside it is on a display.
    static constexpr double savedProbe = 10;
    // After the last move of a drag, how long until the bubble settles.
    static constexpr double settleDelay = 0.25;
    // Settles that would move the bubble this little leave it alone.
    static constexpr double settleTolerance = 0.5;
    // The model changes many times a second while recording.
    static constexpr int modelThrottleMs = 80;
    // The sizes the menu offers (nominal widths, points).
    static constexpr int smallWidth = 160;
    static constexpr int mediumWidth = 240;
    static constexpr int largeWidth = 360;

    // User-defaults keys of the bubble's origin.
    static QString xKey() { return QStringLiteral("previewX"); }
    static QString yKey() { return QStringLiteral("previewY"); }

    // What the bubble needs beyond the model; empty hooks take the platform's.
    struct Setup {
        // The bubble's surfaces and Stealth::track, which keeps its windows out of recordings.
        FloatingKit kit;
        // Every display in list order, read afresh at each decision.
        std::function<std::vector<DisplayInfo>()> displays;
        // The toolbar's bar (its panel less the margin); none when there is no toolbar.
        std::function<std::optional<GlobalRect>()> barRect;
        // Asked of the X server, not of Qt's cached state.
        std::function<bool()> leftButtonDown;
        std::function<std::optional<GlobalPoint>()> mouseLocation;
    };

    CameraPreviewWindow(RecorderModel& model, Prefs& prefs, UserDefaults& defaults, Setup setup);
    ~CameraPreviewWindow() override;

    // Shows, hides and refreshes the bubble from the model's state.
    void updatePreview();
    // Snaps the bubble to its nearest corner, or keeps it on screen: now, or
    // settleDelay later (again and again while the left button stays down).
    void settlePreview(bool immediate);
    // Resizes and reshapes the bubble from the preferences; a snapped bubble
    // stays in its corner, a floating one keeps its centre.
    void applyPreviewShape();
    // Enters or leaves the full-screen camera scene.
    void applyPreviewScene(bool fullScreen);
    // Publishes the bubble's layout to the camera overlay state.
    void pushOverlay();
    // The mirror preference changed: the preview follows it, then the bubble.
    void mirrorChanged();

    // Menu actions.
    void toggleCameraFullScreen();
    void resizePreview(int width);
    void hidePreview();

    // The corner fraction: a circle for shape 2, else the radius preference.
    double previewRadius() const;
    // Zero before the window exists.
    GlobalRect frame() const;
    bool isVisible() const;
    bool isFullScreen() const { return m_previewIsFullScreen; }
    std::optional<int> previewCorner() const { return m_previewCorner; }
    std::optional<uint32_t> fullPreviewDisplay() const { return m_fullPreviewDisplay; }
    bool settlePending() const { return bool(m_previewSettle); }
    // Null before the first show.
    QWidget* window() const { return m_previewPanel.get(); }
    PreviewView* view() const { return m_previewView; }
    QMenu* menu() const { return m_menu.get(); }

    // Pure geometry on a display list.
    // Shape 0: W × W·9/16; any other: (0.72 W)².
    static QSizeF previewSize(int shape, double width);
    // The visible frame of the display whose frame meets `rect` most (the
    // earlier on equal parts, so the first when it meets none); the rectangle
    // itself without displays.
    static GlobalRect previewBounds(const std::vector<DisplayInfo>& displays, const GlobalRect& rect);
    // `rect` moved to lie `margin` inside its bounds; left and bottom win when it does not fit.
    static GlobalRect clampPreview(const std::vector<DisplayInfo>& displays, const GlobalRect& rect);
    // Origin of a bubble of `size` in corner 0 bottom-left, 1 bottom-right,
    // 2 top-left or 3 top-right of `bounds`.
    static GlobalPoint cornerOrigin(const GlobalRect& bounds, const QSizeF& size, int corner);
    // The corner within snapDistance on both axes that is nearest (the lower
    // number on a tie); none when no corner is that close.
    static std::optional<int> nearestCorner(const std::vector<DisplayInfo>& displays, const GlobalRect& rect);
    // Where a new bubble opens: at the saved origin when the point savedProbe
    // inside it is on a display, else centred on the bar, barGap above it
    // (without a bar, on the first display's visible frame); kept on screen.
    static GlobalRect defaultFrame(const std::vector<DisplayInfo>& displays, const QSizeF& size,
                                   std::optional<GlobalPoint> saved, std::optional<GlobalRect> bar);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createPreview();
    void buildMenu();
    void refreshMenu();
    // Sets the window frame; the resulting moves are ours.
    void setFrame(const GlobalRect& frame);
    // After a move of ours outside the scene switch: saved and published.
    void bubbleMoved();
    void settleNow();
    void updateVisibleRegion();
    std::optional<GlobalRect> displayFrame(uint32_t id) const;
    const DisplayInfo* displayAt(const std::vector<DisplayInfo>& displays, const GlobalRect& rect) const;
    void follow();

    RecorderModel& m_model;
    Prefs& m_prefs;
    UserDefaults& m_defaults;
    Setup m_setup;

    std::unique_ptr<QWidget> m_previewPanel;
    PreviewView* m_previewView = nullptr;
    std::unique_ptr<QMenu> m_menu;
    QAction* m_fullScreenAction = nullptr;
    QAction* m_mirrorAction = nullptr;
    std::weak_ptr<CameraSession> m_attached;
    bool m_hasAttached = false;
    std::optional<GlobalRect> m_normalPreviewFrame;
    bool m_previewIsFullScreen = false;
    std::optional<uint32_t> m_fullPreviewDisplay;
    bool m_adjustingPreviewScene = false;
    std::optional<int> m_previewCorner;
    Scheduler::TimerRef m_previewSettle;

    bool m_moving = false;
    std::optional<QPoint> m_ownPosition;
    QTimer* m_throttle;
};

} // namespace corvessa
