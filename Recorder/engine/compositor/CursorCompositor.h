#pragma once

#include "capture/CameraOverlayState.h"
#include "engine/compositor/BubbleMask.h"
#include "engine/compositor/CursorLayer.h"
#include "engine/compositor/CursorStyle.h"
#include "engine/compositor/NV12Planes.h"
#include "engine/compositor/PenBoard.h"
#include "platform/core/GlobalRect.h"
#include "platform/core/MediaTime.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/PixelBufferPool.h"
#include "platform/ffmpeg/SwsScaler.h"

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace corvessa {

class FocusState;
class MouseTrack;

// Turns one captured screen frame into the frame that is written: the zoom
// (crop and scale), the pen ink under it, the camera bubble over it and the
// program's own cursor on top, in a pooled NV12 buffer of the output size.
//
// Everything happens on the CPU and stays in NV12: the zoom and any resize go
// through libswscale straight from the captured planes, and each layer is
// drawn into a small premultiplied ARGB picture and blended into the planes
// only inside its rectangle. When nothing needs drawing, render() hands back
// nothing and the captured buffer is written as it is.
//
// Engine queue only, one call at a time. Other objects (track, focus, pen
// board, camera overlay, performance counters) are read under their own locks.
//
// Spaces: global (GlobalPoint, GlobalRect);
// window-server (points, origin top left of the primary display, y down);
// output (pixels of the written frame, origin top left, y down).
class CursorCompositor {
public:
    // What part of the screen the output shows.
    struct Region {
        enum class Kind { display, area, window };
        Kind kind = Kind::display;
        GlobalRect frame; // display and area: the display's frame
        QRectF rect;      // area: the area in points from the display's top-left corner, y down

        static Region display(const GlobalRect& frame) { return {Kind::display, frame, {}}; }
        static Region area(const GlobalRect& frame, const QRectF& rect) { return {Kind::area, frame, rect}; }
        // The window's frame is read from the track at each use.
        static Region window() { return {Kind::window, {}, {}}; }
    };

    using LensCallback = std::function<void(std::optional<GlobalRect>)>;

    // Cursor shadow opacities until the engine sets its configuration's.
    static constexpr double kShadowUp = 0.58;
    static constexpr double kShadowDown = 0.7;
    // Output pixels beyond each edge within which a cursor is still drawn.
    static constexpr double kCursorSlack = 80;

    // `primaryH`: height in points of the primary display (window-server y flips
    // through it); `outSize` must be positive and even.
    CursorCompositor(std::shared_ptr<MouseTrack> track, Region region, double sizeScale, QSize outSize, bool drawPaw,
                     bool alwaysRender, std::shared_ptr<FocusState> focus, double primaryH);
    ~CursorCompositor();
    CursorCompositor(const CursorCompositor&) = delete;
    CursorCompositor& operator=(const CursorCompositor&) = delete;

    // Set by the engine after construction.
    bool nativeSystemAppearance() const { return m_nativeSystemAppearance; }
    void setNativeSystemAppearance(bool on) { m_nativeSystemAppearance = on; }
    double shadowUp() const { return m_shadowUp; }
    double shadowDown() const { return m_shadowDown; }
    void setShadow(double up, double down);
    const CursorStyle::Look& look() const { return m_look; }
    void setLook(const CursorStyle::Look& look);
    void setOnLens(LensCallback onLens) { m_onLens = std::move(onLens); }
    void setCamOverlay(std::shared_ptr<CameraOverlayState> overlay) { m_camOverlay = std::move(overlay); }
    // The ink board to draw from; the program's one board unless a test gives another.
    void setPenBoard(PenBoard* board) { m_pen = board ? board : &PenBoard::shared(); }

    double sizeScale() const { return m_sizeScale; }
    QSize outSize() const { return m_outSize; }
    bool drawPaw() const { return m_drawPaw; }
    bool alwaysRender() const { return m_alwaysRender; }
    const Region& region() const { return m_region; }

    // The composed frame for a captured one (BGRA or NV12) taken at host time
    // `pts`; nothing when nothing needed drawing or no output buffer could be had.
    // With `deferCamera` the bubble is left for overlayCamera() and a buffer is
    // always returned (the input itself when nothing else was drawn on it).
    PixelBufferRef render(const PixelBufferRef& frame, MediaTime pts, bool deferCamera);

    // Adds the camera to a frame rendered with `deferCamera`. Full screen: the
    // camera picture fills a new frame (black without a picture). Otherwise the
    // bubble goes over the frame; without a camera or a drawable bubble the frame
    // comes back as it is. A frame whose only reference is handed in is drawn on
    // in place; otherwise into a new buffer. Nothing when no buffer could be had.
    PixelBufferRef overlayCamera(PixelBufferRef frame, const std::optional<CameraOverlayState::Snapshot>& camera,
                                 const std::optional<QRectF>& windowFrame, bool fullScreen);

    // A buffer of the output pool (NV12), rebuilt when the size changes.
    PixelBufferRef makeBuffer(int width, int height);

    // A global point in output space with the region's scale k (output pixels per
    // point), for output width `ow`; nothing for a window whose frame is unknown.
    std::optional<std::pair<QPointF, double>> mapGlobal(const GlobalPoint& p, double ow) const;
    // An output-space rectangle back in global space (zero for an unknown window).
    GlobalRect toGlobal(const QRectF& r, double k) const;
    // The bubble rectangle in output space; nothing when it is 8 pixels or less
    // wide or high, off the frame, or the window frame is unknown.
    std::optional<QRectF> cameraRect(const CameraOverlayState::Snapshot& snap,
                                     const std::optional<QRectF>& windowFrame) const;

    // Zoom state, for the lens outline and tests: the current view centre in
    // output space, the smoothed full-zoom factor, the last view.
    std::optional<QPointF> lens() const { return m_lens; }
    double zoomCur() const { return m_zoomCur; }
    std::optional<QRectF> lastView() const { return m_lastView; }
    bool previewShown() const { return m_previewShown; }

private:
    struct Affine {
        double k = 1;   // output pixels per point
        double x0 = 0;  // global x at output x 0
        double y0 = 0;  // global y at output y 0
        QPointF map(const GlobalPoint& g) const { return {k * (g.x - x0), k * (y0 - g.y)}; }
    };
    struct Zoom;
    struct Source;

    // The region's mapping for output width `ow`, with the window frame given
    // explicitly; nothing when the window frame is unknown or the width is 0.
    std::optional<Affine> mapping(double ow, const std::optional<QRectF>& windowFrame) const;
    std::optional<QRectF> currentWindowFrame() const;

    Zoom zoomStep(double t, double p, bool anchored, std::optional<QPointF> anchor, bool zoomingIn,
                  double frac, const std::optional<QPointF>& cursor, double k);
    void leaveZoom();

    // Ink and the live stroke into `target`, whose top-left pixel is input pixel
    // `origin`; input size (sw, sh).
    void drawPen(const PenBoard::Snapshot& pen, const NV12Planes& target, QPoint origin, int sw, int sh);
    // The bubble over `out` at `dst` (output space).
    void drawBubble(const CameraOverlayState::Snapshot& snap, const QRectF& dst, const NV12Planes& out);
    // The camera picture filling `out`.
    void drawFullScreenCamera(const std::optional<CameraOverlayState::Snapshot>& snap, const NV12Planes& out);
    void drawCursor(const NV12Planes& out, QPointF at, double c, double t, int shapeIndex, bool penActive);
    // The part `crop` of `src` scaled into the whole of `out`; ink drawn first when given.
    bool scaleInto(PixelBuffer& src, const QRect& crop, const PenBoard::Snapshot* pen, const NV12Planes& out);

    const std::shared_ptr<MouseTrack> m_track;
    const Region m_region;
    double m_sizeScale = 1;
    const QSize m_outSize;
    bool m_drawPaw = true;
    bool m_nativeSystemAppearance = false;
    double m_shadowUp = kShadowUp;
    double m_shadowDown = kShadowDown;
    CursorStyle::Look m_look;
    bool m_alwaysRender = false;
    std::shared_ptr<FocusState> m_focus;
    LensCallback m_onLens;
    std::shared_ptr<CameraOverlayState> m_camOverlay;
    PenBoard* m_pen = nullptr;
    bool m_previewShown = false;

    // Caches, rebuilt when their key changes.
    std::optional<BubbleMask> m_camMask;
    std::optional<CursorLayer::Key> m_pawKey;
    CursorLayer m_pawLayer;
    std::shared_ptr<PixelBufferPool> m_pool;
    QSize m_poolSize;
    SwsScaler m_zoomScaler;
    SwsScaler m_cameraScaler;
    SwsScaler m_convertScaler; // BGRA input to NV12 before ink is laid on it
    PixelBufferRef m_scratch; // the cropped input when ink goes under a zoom
    // The shaped camera picture, kept while the picture and its shape stay the
    // same (the screen often runs at twice the camera's rate).
    struct BubbleKey {
        std::shared_ptr<const PixelBuffer> picture; // held, so its address stays its own
        MediaTime pts;
        QRect crop;
        bool mirrored = false;
        BubbleMask::Key mask;
        bool operator==(const BubbleKey&) const = default;
    };
    std::optional<BubbleKey> m_bubbleKey;
    QImage m_bubble;
    QImage m_inkLayer;        // resampled ink, when the canvas does not match the input 1:1

    const double m_primaryH;
    std::optional<QPointF> m_lens;
    double m_zoomCur = 2.0;
    std::optional<double> m_lastT;
    std::optional<QPointF> m_exitPivot;
    std::optional<QRectF> m_lastView;
};

} // namespace corvessa
