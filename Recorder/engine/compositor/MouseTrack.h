#pragma once

#include "platform/PointerService.h"
#include "platform/core/GlobalPoint.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QTimer;

namespace corvessa {

// Where the mouse was during one recording: position, primary button and the
// system cursor's look, sampled on the main thread every 16 ms and stamped with
// host-clock seconds, so the compositor can ask on the engine queue where the
// cursor was at a frame's time. For window recordings it also follows the
// window's frame.
//
// The engine makes one per recording (shared: engine, compositor, model). The
// sampling timer lives on the main thread; stop() may come from any thread.
// Samples, edges and shapes are guarded by one lock held only for short copies.
class MouseTrack : public std::enable_shared_from_this<MouseTrack> {
public:
    struct Sample {
        double t = 0;      // host-clock seconds
        GlobalPoint p;
        bool down = false; // primary button down
        int shape = -1;    // index into the shapes, -1 for the ordinary arrow or none
        bool operator==(const Sample&) const = default;
    };
    // A system cursor look other than the arrow.
    struct Shape {
        QImage image; // premultiplied ARGB
        QSizeF size;  // in points
        QPointF hot;  // hot spot in points from the image's top-left corner
    };
    struct Edge {
        double t = 0;
        bool down = false;
        bool operator==(const Edge&) const = default;
    };

    static constexpr std::chrono::milliseconds interval{16};
    // Every this many ticks the cursor look (160 ms) and the window frame (96 ms) are read.
    static constexpr int shapeEvery = 10;
    static constexpr int windowEvery = 6;
    // Bounds: the append that passes the limit drops the oldest trim entries.
    static constexpr size_t sampleLimit = 600;
    static constexpr size_t sampleTrim = 300;
    static constexpr size_t edgeLimit = 200;
    static constexpr size_t edgeTrim = 100;

    // Reads the pointer through `pointer` (the process-wide service by default).
    static std::shared_ptr<MouseTrack> create(std::shared_ptr<PointerService> pointer = PointerService::current());
    ~MouseTrack();
    MouseTrack(const MouseTrack&) = delete;
    MouseTrack& operator=(const MouseTrack&) = delete;

    // Starts sampling on the main thread (a call from elsewhere is passed there).
    // Does nothing while running. A window id is kept; none keeps the stored one,
    // so a resume follows the same window.
    void start(std::optional<uint32_t> windowID = std::nullopt);
    // Stops sampling; any thread. What was recorded stays.
    void stop();
    bool isRunning() const;

    // One timer firing (main thread); pollAt with the host clock.
    void poll();
    // One firing at a given host time.
    void pollAt(double now);

    // When set, replaces the real button state (main thread): false while the
    // user picks a zoom region, so those clicks do not animate the cursor.
    void setForceDown(std::optional<bool> down);
    std::optional<bool> forceDown() const;

    // Any thread:
    // The cursor at time t: held before the first and after the last sample,
    // positions interpolated in between; button and look from the earlier sample.
    std::optional<Sample> sample(double t) const;
    // The press animation at t, 0...1: ease-out over 80 ms when pressed; when
    // released, back over 220 ms with the overshoot cut off.
    double press(double t) const;
    // The look for a sample's shape index; nothing for -1 or out of range.
    std::optional<Shape> shape(int index) const;
    // The recorded window's frame in window-server space (points, origin top
    // left of the primary display, y down); nothing until it has been read.
    std::optional<QRectF> windowFrame() const;
    // Host seconds of the last sample that differed from the one before; 0 when none did.
    double lastActivity() const;

    std::vector<Sample> samples() const;
    std::vector<Edge> edges() const;
    size_t shapeCount() const;
    std::optional<uint32_t> windowID() const;

private:
    explicit MouseTrack(std::shared_ptr<PointerService> pointer);
    void startOnMain(std::optional<uint32_t> windowID);
    void updateShape();
    void updateWindowFrame(uint32_t id);
    // The key of a look: size and hot spot, and a hash of the pixels, so that two
    // shapes of the same geometry (a cross and a move cursor) stay apart.
    static QString shapeKey(const CursorImage& cursor);

    const std::shared_ptr<PointerService> m_pointer;

    mutable std::mutex l; // guards the fields up to m_lastActivity
    std::vector<Sample> m_samples;
    std::vector<Edge> m_edges;
    std::vector<Shape> m_shapes;
    std::map<QString, int> m_shapeKeys;
    std::optional<QRectF> m_windowFrame;
    double m_lastActivity = 0;

    // Timer: the pointer lives on the main thread; the generation tells a timer
    // that was stopped from another thread (and is being deleted) not to poll.
    mutable std::mutex m_timerMutex;
    QTimer* m_timer = nullptr;
    std::atomic<uint64_t> m_generation{0};

    // Main thread only.
    int64_t m_tick = 0;
    int m_curShape = -1;
    std::optional<uint32_t> m_windowID;
    std::optional<bool> m_forceDown;
    std::optional<uint64_t> m_lastSerial; // cursor serial of m_curShape, so an unchanged cursor costs a compare
};

} // namespace corvessa
