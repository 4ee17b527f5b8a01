#include "platform/core/RealtimeThreads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>

#include <sched.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvessa {

namespace {

std::atomic<pid_t> g_threads[RealtimeThreads::capacity];
std::atomic<int> g_overruns{0};
std::atomic<int> g_pending{0};
std::atomic<int> g_wakeFd{-1};
struct sigaction g_previous{};

// Async-signal-safe: plain system calls and lock-free atomics only.
void onCpuLimit(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    const sched_param normal{};
    for (auto& slot : g_threads) {
        const pid_t tid = slot.load(std::memory_order_relaxed);
        if (tid > 0)
            ::syscall(SYS_sched_setscheduler, tid, SCHED_OTHER, &normal);
    }
    g_overruns.fetch_add(1, std::memory_order_relaxed);
    g_pending.fetch_add(1, std::memory_order_relaxed);
    if (const int fd = g_wakeFd.load(std::memory_order_relaxed); fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    }
    // A handler the program had before still hears of it.
    if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction)
        g_previous.sa_sigaction(signal, info, context);
    else if (!(g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_handler != SIG_DFL
             && g_previous.sa_handler != SIG_IGN)
        g_previous.sa_handler(signal);
    errno = savedErrno;
}

bool installHandler()
{
    static const bool installed = [] {
        g_wakeFd.store(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        struct sigaction action{};
        action.sa_sigaction = &onCpuLimit;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGXCPU, &action, &g_previous) == 0;
    }();
    return installed;
}

} // namespace

bool RealtimeThreads::prepare(int64_t maxMicroseconds)
{
    if (maxMicroseconds < 2 || !installHandler())
        return false;
    static std::mutex mutex; // two preparations must not interleave their read and write
    std::lock_guard lock(mutex);
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return false;
    const auto most = rlim_t(maxMicroseconds);
    // A hard limit can be lowered without privilege, never raised: one already
    // lower is kept. The soft one below it is what makes the signal come first.
    const rlim_t hard = limit.rlim_max == RLIM_INFINITY ? most : std::min(limit.rlim_max, most);
    const rlim_t soft = std::min(limit.rlim_cur, hard / 2);
    if (limit.rlim_max != hard || limit.rlim_cur != soft) {
        const rlimit wanted{soft, hard};
        if (::setrlimit(RLIMIT_RTTIME, &wanted) != 0)
            return false;
    }
    return soft < hard;
}

bool RealtimeThreads::add(pid_t tid)
{
    for (auto& slot : g_threads) {
        if (slot.load() == tid)
            return true;
    }
    for (auto& slot : g_threads) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, tid))
            return true;
    }
    return false;
}

void RealtimeThreads::remove(pid_t tid)
{
    for (auto& slot : g_threads) {
        pid_t listed = tid;
        slot.compare_exchange_strong(listed, 0);
    }
    // Unlisted, an overrun would no longer put it back, and the hard limit
    // would end the program: a thread of ours still realtime goes back now.
    if (tid <= 0 || ::access(("/proc/self/task/" + std::to_string(tid)).c_str(), F_OK) != 0)
        return;
    const int policy = ::sched_getscheduler(tid);
    if (policy == SCHED_RR || policy == SCHED_FIFO) {
        const sched_param normal{};
        ::sched_setscheduler(tid, SCHED_OTHER, &normal);
    }
}

int RealtimeThreads::overrunFd()
{
    return g_wakeFd.load();
}

int RealtimeThreads::takeOverruns()
{
    if (const int fd = g_wakeFd.load(); fd >= 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
    }
    return g_pending.exchange(0);
}

bool RealtimeThreads::overran()
{
    return g_overruns.load() > 0;
}

} // namespace corvessa
