#pragma once

#include <QPointF>

#include <array>
#include <mutex>
#include <optional>
#include <vector>

namespace corvessa {

// The user's zoom requests on their way to the compositor. The recorder model
// writes it on the main thread; the compositor and the heartbeat read it on the
// engine queue. Every access takes the object's own lock for a few
// instructions, never while calling out.
class FocusState {
public:
    // One zoom switch, host-clock seconds.
    struct Edge {
        double t = 0;
        bool on = false;
        bool operator==(const Edge&) const = default;
    };

    // What the compositor reads once per frame, taken under one lock.
    struct Snapshot {
        double frac = 0.29;            // share of the output that stays visible at full zoom
        int mode = 0;                  // 0 follow the cursor, 1 hold the anchor
        std::optional<QPointF> anchor; // normalised: x 0 left...1 right, y 0 top...1 bottom
        double touch = 0;              // host seconds of the last move of the zoom point
        int speed = 0;                 // index into durations
        bool zoomingIn = false;        // the newest switch is on
        bool anchored() const { return mode == 1 && anchor.has_value(); }
    };

    // Transition lengths in seconds, by speed index.
    static constexpr std::array<double, 3> durations{0.45, 0.8, 1.3};
    static constexpr double defaultFrac = 0.29;
    // The visible share is kept in this range: 0 would divide by zero, above 1 would zoom out.
    static constexpr double minFrac = 0.05;
    static constexpr double maxFrac = 1.0;
    // edges is trimmed by kTrim entries when it passes kLimit.
    static constexpr size_t kLimit = 100;
    static constexpr size_t kTrim = 50;

    FocusState() = default;
    FocusState(const FocusState&) = delete;
    FocusState& operator=(const FocusState&) = delete;

    // Records a zoom switch at `time` (host seconds; now when absent). A switch to
    // the state already in force is ignored, so a running transition keeps its
    // start; so is a first switch off, and a time that is not a number.
    void set(bool on, std::optional<double> time = std::nullopt);
    // The eased zoom amount at `time`: 0 no zoom ... 1 full zoom.
    double progress(double time) const;

    Snapshot snapshot() const;
    std::vector<Edge> edges() const;

    double frac() const;
    // Not finite: ignored; otherwise clamped to minFrac...maxFrac.
    void setFrac(double value);
    int mode() const;
    void setMode(int value);
    std::optional<QPointF> anchor() const;
    // A point that is not finite clears the anchor.
    void setAnchor(std::optional<QPointF> value);
    // A picked region: its centre and the time of the pick, in one step, so the
    // compositor never sees the new anchor with the old time.
    void setAnchor(QPointF value, double touch);
    std::optional<QPointF> seed() const;
    void setSeed(std::optional<QPointF> value);
    // Reads and clears the one-shot starting point.
    std::optional<QPointF> takeSeed();
    double touch() const;
    void setTouch(double value);
    int speed() const;
    // Clamped to 0...2.
    void setSpeed(int value);

private:
    mutable std::mutex l;
    std::vector<Edge> m_edges;
    double m_frac = defaultFrac;
    int m_mode = 0;
    std::optional<QPointF> m_anchor;
    std::optional<QPointF> m_seed;
    double m_touch = 0;
    int m_speed = 0;
};

} // namespace corvessa
