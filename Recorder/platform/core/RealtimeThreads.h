#pragma once

#include <sys/types.h>

#include <cstdint>

namespace corvessa {

// The threads of this process that run under a realtime policy, and what puts
// them back when one overruns its CPU time. A realtime thread that keeps the
// CPU past RLIMIT_RTTIME's soft limit without blocking makes the kernel send
// SIGXCPU, whose default action ends the program (the hard limit kills it):
// here the signal puts every listed thread back to normal scheduling instead,
// so a thread that spins loses its place, never the program. Any thread; the
// list is lock-free so the signal handler can read it.
class RealtimeThreads {
public:
    static constexpr int capacity = 32;

    RealtimeThreads() = delete;

    // Installs the SIGXCPU handler (once per process) and keeps RLIMIT_RTTIME
    // within `maxMicroseconds`: the hard limit at most that, the soft limit half
    // of it, so the signal comes before the kill. Call before any thread turns
    // realtime. False when the limit could not be set so (a thread must then not
    // turn realtime).
    static bool prepare(int64_t maxMicroseconds);
    // Lists `tid`, to be put back by the signal; false when the list is full.
    static bool add(pid_t tid);
    // Unlists `tid`; a thread of this process it names that still runs
    // realtime goes back to normal scheduling at once.
    static void remove(pid_t tid);

    // Readable once the signal has put the threads back; takeOverruns() makes
    // it quiet again. -1 before prepare().
    static int overrunFd();
    // How many times the signal came since the last call.
    static int takeOverruns();
    // Whether it came at all in this run: a thread is not made realtime again then.
    static bool overran();
};

} // namespace corvessa
