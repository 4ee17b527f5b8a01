#pragma once

#include <QString>

#include <optional>

namespace corvessa {

// Tells when a changing screen went without pictures for long: the capture
// thread held up (a server answering late behind a flooding client, an output
// queue still full, a machine with no CPU to spare). The movie then repeats
// the last picture for the stall's length; the log says how long and about
// how many pictures that cost. A plain value owned by the capture thread.
class CaptureStallMeter {
public:
    // Shorter waits are the ordinary jitter of a busy machine.
    static constexpr double stallSeconds = 0.5;

    // The screen has changed and a picture is due at `due` (seconds on any
    // steady clock); only the first call after a picture counts.
    void owed(double due);
    // A picture was read at `now`. When it came more than `stallSeconds`
    // after it was first owed, the stall's length in seconds.
    std::optional<double> read(double now);

    // The log line for a stall of `seconds` at `interval` seconds a picture.
    static QString line(double seconds, double interval);

private:
    std::optional<double> m_owedSince;
};

} // namespace corvessa
