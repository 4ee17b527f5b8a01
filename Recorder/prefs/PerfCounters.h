#pragma once

#include <mutex>

namespace corvessa {

// Render and pen-latency timings between two reports of the performance probe.
// Fed by the compositor (engine queue) and the pen view (main thread), drained
// by PerfProbe on the main thread. A sample is a lock and three updates, with no
// allocation, so it can be taken for every frame.
class PerfCounters {
public:
    struct Stats {
        int n = 0;
        double avg = 0; // milliseconds; 0 without samples
        double max = 0; // milliseconds
        bool operator==(const Stats&) const = default;
    };
    struct Drained {
        Stats render;
        Stats pen;
        bool operator==(const Drained&) const = default;
    };

    static PerfCounters& shared();

    PerfCounters() = default;
    PerfCounters(const PerfCounters&) = delete;
    PerfCounters& operator=(const PerfCounters&) = delete;

    // One composed frame took `ms` milliseconds.
    void addRender(double ms);
    // From an input event to its ink on screen took `ms` milliseconds.
    void addPen(double ms);
    // The figures since the last drain; every counter starts again from 0.
    Drained drain();

private:
    struct Sum {
        int n = 0;
        double sum = 0;
        double max = 0;
        void add(double ms);
        Stats take();
    };

    std::mutex l;
    Sum m_render;
    Sum m_pen;
};

} // namespace corvessa
