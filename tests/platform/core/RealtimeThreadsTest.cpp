#include "platform/core/RealtimeThreads.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace corvessa;

namespace {

// A thread that waits, under SCHED_RR where this process may set it (as root);
// nothing ends the wait but the destructor.
class WaitingThread {
public:
    WaitingThread()
        : m_thread([this] {
              m_tid.set_value(::gettid());
              m_done.get_future().wait();
          })
    {
        tid = m_tid.get_future().get();
        const sched_param rr{1};
        realtime = ::sched_setscheduler(tid, SCHED_RR, &rr) == 0;
    }
    ~WaitingThread()
    {
        m_done.set_value();
        m_thread.join();
    }

    pid_t tid = 0;
    bool realtime = false;

private:
    std::promise<pid_t> m_tid;
    std::promise<void> m_done;
    std::thread m_thread;
};

} // namespace

TEST(RealtimeThreadsTest, ACpuTimeOverrunPutsTheListedThreadsBackAndTheProgramLivesOn)
{
    ASSERT_TRUE(RealtimeThreads::prepare(200000));
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_RTTIME, &limit), 0);
    EXPECT_LE(limit.rlim_max, 200000u);
    EXPECT_LT(limit.rlim_cur, limit.rlim_max) << "the signal must come before the kill";
    // A hard limit cannot be raised again: a larger one asked for later keeps it.
    ASSERT_TRUE(RealtimeThreads::prepare(400000));
    ASSERT_EQ(::getrlimit(RLIMIT_RTTIME, &limit), 0);
    EXPECT_LE(limit.rlim_max, 200000u);

    WaitingThread listed, released;
    ASSERT_TRUE(RealtimeThreads::add(listed.tid));
    ASSERT_TRUE(RealtimeThreads::add(released.tid));
    RealtimeThreads::remove(released.tid);
    if (released.realtime) {
        // Nothing would put it back on an overrun any more.
        EXPECT_EQ(::sched_getscheduler(released.tid), SCHED_OTHER) << "a thread no longer listed stays realtime";
    }
    RealtimeThreads::takeOverruns();

    // Its default action would end this test program here.
    ASSERT_EQ(::raise(SIGXCPU), 0);
    EXPECT_EQ(RealtimeThreads::takeOverruns(), 1);
    EXPECT_TRUE(RealtimeThreads::overran());
    if (listed.realtime) {
        EXPECT_EQ(::sched_getscheduler(listed.tid), SCHED_OTHER);
    }
    RealtimeThreads::remove(listed.tid);
}
