#pragma once

#include "engine/compositor/PenStroke.h"
#include "platform/core/GlobalRect.h"

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRectF>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace corvessa {

struct DisplayInfo;

// The pen's ink: one premultiplied ARGB bitmap the size of the screen it is
// attached to (top row = top of the screen), written by the drawing input on the
// main thread and laid over every recorded frame by the compositor on the engine
// queue.
//
// Pencil strokes are burnt in segment by segment; shape strokes stay a vector
// shape in progress until they are finished. Every operation runs under the
// board's lock for its whole (short) work.
//
// Readers never get the bitmap being drawn on: they get an immutable published
// copy that the board keeps up to date by copying only the changed area. A copy
// stays valid for as long as its holder keeps it, across later strokes, a detach
// or a new attach. Holders should let go of a copy before asking for the next
// one; while both of the board's copies are held elsewhere, it makes a full copy.
class PenBoard {
public:
    // What the compositor needs for one frame.
    struct Snapshot {
        std::shared_ptr<const QImage> ink; // the ink bitmap; null unless hasInk (or when no copy could be made)
        GlobalRect frame;                  // the screen's frame
        double scale = 1;                  // bitmap pixels per point
        bool hasInk = false;               // something was burnt in since the last attach
        std::optional<PenStroke> shape;    // the shape in progress, not in the bitmap
        uint64_t version = 0;              // version() when the snapshot was taken
    };

    // The bitmap for the overlay's display.
    struct Surface {
        std::shared_ptr<const QImage> image;
        GlobalRect frame;
        double scale = 1;
    };

    // Largest bitmap side accepted, in pixels.
    static constexpr int kMaxSide = 32768;
    // Backing scales above this are drawn at it, which bounds the bitmap's size.
    static constexpr double kMaxScale = 2;
    // Pencil points closer than this (points) to the last one, with a pressure
    // change below kMinPressureStep, are dropped: dense tablet input costs nothing.
    static constexpr double kMinMove = 1.5;
    static constexpr double kMinPressureStep = 0.05;

    // The program's one board, created empty on first use.
    static PenBoard& shared();

    PenBoard() = default;
    PenBoard(const PenBoard&) = delete;
    PenBoard& operator=(const PenBoard&) = delete;

    // Drops everything and makes a fresh transparent bitmap for a screen of this
    // frame (global points) and backing scale. When the bitmap cannot be made (a
    // size that is empty, not finite, too large, or out of memory), the board stays
    // without one and every drawing operation does nothing. `active` is kept.
    void attach(const GlobalRect& frame, double backingScale);
    void attach(const DisplayInfo& display);
    // Drops the bitmap and all strokes; `active` becomes false.
    void detach();

    // Starts a stroke (the input passes one point). Ignored without a bitmap, or
    // for a stroke without points or with a point that is not finite.
    void begin(const PenStroke& stroke);
    // Adds a point to the stroke in progress.
    void extend(const GlobalPoint& p, double pressure);
    // Ends the stroke in progress: a shape with two points is burnt in.
    void finish();
    // Clears a round-ended band of the given radius (points) between two points.
    void erase(const GlobalPoint& from, const GlobalPoint& to, double radius);

    // For the overlay: the bitmap with its frame and scale; nothing without one.
    std::optional<Surface> inkSurface();
    // For the compositor: nothing without a bitmap, or with neither ink nor a shape
    // in progress.
    std::optional<Snapshot> snapshotForCompositor();

    bool active() const;
    void setActive(bool on);
    // Grows at every change that can alter what is shown.
    uint64_t version() const;
    bool hasInk() const;
    // Whether a pen pass is needed at all: ink, or a shape in progress.
    bool hasInkOrShape() const;
    // Strokes begun since the last attach.
    int strokes() const;

private:
    struct PencilStroke {
        int color = 0;
        double width = 1;
        GlobalPoint last;
        double lastP = 1;
    };
    // A published copy of the bitmap, how many handed-out references to it are
    // still alive, and the area it has not caught up with.
    struct Copy {
        std::shared_ptr<QImage> image;
        std::shared_ptr<std::atomic<int>> holders;
        QRect stale;
    };

    void dropLocked();
    QPointF toCanvas(const GlobalPoint& global) const;
    // Draws a stroke into the bitmap and marks its area as changed.
    void burnLocked(const PenStroke& stroke);
    void markChangedLocked(const QRectF& area);
    std::shared_ptr<const QImage> publishLocked();
    static std::shared_ptr<const QImage> handOut(const Copy& copy);

    mutable std::mutex l;
    QImage m_canvas; // null without a bitmap; only ever painted under l
    GlobalRect m_frame;
    double m_scale = 1;
    bool m_active = false;
    uint64_t m_version = 0;
    bool m_hasInk = false;
    int m_strokes = 0;
    std::optional<PenStroke> m_shape;
    std::optional<PencilStroke> m_pencil;
    std::array<Copy, 2> m_copies;
    size_t m_current = 0; // the copy handed out last
};

} // namespace corvessa
