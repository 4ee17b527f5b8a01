#pragma once

#include "platform/core/GlobalRect.h"
#include "platform/core/MediaTime.h"
#include "platform/core/PixelBuffer.h"

#include <QRectF>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace corvessa {

// Where the camera meets a recording when it is composited as a bubble: a short
// history of recent camera pictures (already reduced to overlay size) and the
// bubble layout, both behind one lock.
//
// The camera queue stores pictures; the main thread writes the layout; the engine
// queue copies the layout per screen frame and takes matching pictures. Every
// operation holds the lock only for field and list updates (the deep copy of a
// picture is made before it is taken), and never takes another lock while held.
class CameraOverlayState {
public:
    // Where and how the bubble is shown.
    struct Layout {
        GlobalRect frame;       // the preview window's frame
        int shape = 0;          // bubble shape code 0...2, interpreted by the compositor
        double radius = 0.12;   // corner radius as a fraction of the shorter side
        bool mirrored = false;  // draw the picture flipped horizontally
        bool visible = false;   // the preview window is on screen
        bool fullScreen = false; // full-screen camera mode

        // Whether a bubble can be drawn with this layout at all.
        bool isDrawable() const;

        bool operator==(const Layout&) const = default;
    };

    // One picture combined with a layout, handed to the compositor. It holds its
    // own reference to the picture, which stays valid after the store trims it.
    struct Snapshot {
        GlobalRect frame;
        int shape = 0;
        double radius = 0;
        bool mirrored = false;
        std::shared_ptr<const PixelBuffer> buffer;
        MediaTime pts;
        bool fullScreen = false;
    };

    // What the engine reads at once to decide whether the screen must keep
    // producing frames.
    struct Status {
        Layout layout;
        size_t frameCount = 0;
        int64_t usedBytes = 0;
    };

    static constexpr size_t kMaxFrames = 24;
    // Also the largest picture accepted at all.
    static constexpr int64_t kMaxBytes = 50'331'648; // 48 MiB
    // Longest span kept between the oldest and the newest picture.
    static constexpr MediaTime kMaxSpan{1, 2};
    // Largest distance between a screen frame's time and the picture drawn into it.
    static constexpr MediaTime kMaxAge{12, 100};
    // Bubbles this narrow (points) or narrower are not drawn.
    static constexpr double kMinDrawableWidth = 4;

    CameraOverlayState() = default;
    CameraOverlayState(const CameraOverlayState&) = delete;
    CameraOverlayState& operator=(const CameraOverlayState&) = delete;

    // Stores a deep copy of a picture taken at `pts` (host clock). Ignored when the
    // time is not numeric, the picture is larger than kMaxBytes, the copy fails, or
    // the time is not later than the newest stored picture.
    void setBuffer(const PixelBuffer& picture, MediaTime pts);

    // The newest picture with the stored layout; nothing when the layout is not
    // drawable or no picture is stored.
    std::optional<Snapshot> snapshot() const;

    // The picture for a screen frame captured at `t`, drawn with `layout` (the one
    // current when that frame arrived): the newest picture not later than `t`,
    // provided it is at most kMaxAge old and not older than `minimumPTS` (an
    // invalid `minimumPTS` means no lower bound).
    std::optional<Snapshot> snapshot(MediaTime t, const Layout& layout, MediaTime minimumPTS) const;

    // Locked access to the layout.
    Layout layout() const;
    void setLayout(const Layout& layout);
    // Assigns everything but `fullScreen`, which belongs to the full-screen camera
    // tool (the application shell's update of the bubble geometry).
    void setBubble(const Layout& layout);
    bool fullScreen() const;
    void setFullScreen(bool on);
    bool mirrored() const;
    void setMirrored(bool on);
    // Runs `change` on the layout under the lock, for a read-modify-write in one step.
    template <typename F>
    void updateLayout(F&& change)
    {
        std::lock_guard lock(l);
        change(m_layout);
    }

    Status status() const;
    size_t frameCount() const;
    int64_t usedBytes() const;

    // Drops every stored picture (the camera stops); the layout stays.
    void clear();

private:
    struct Frame {
        std::shared_ptr<const PixelBuffer> buffer;
        MediaTime pts;
        int64_t bytes = 0;
    };

    static Snapshot makeSnapshot(const Layout& layout, const Frame& frame);

    mutable std::mutex l;
    Layout m_layout;
    std::deque<Frame> m_frames; // oldest first, strictly increasing pts
    int64_t m_usedBytes = 0;
};

} // namespace corvessa
