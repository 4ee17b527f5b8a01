#include "platform/core/ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <thread>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvessa {

namespace {

#if defined(__x86_64__)
constexpr unsigned kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kArch = AUDIT_ARCH_AARCH64;
#else
constexpr unsigned kArch = 0; // not kept: the syscall numbers are not checked here
#endif

// A filter on the calling thread and the threads it starts afterwards:
// setpriority(PRIO_PROCESS, 0, ...), a thread setting its own nice value,
// returns 0 without running. Everything else runs as before. Both supported
// architectures are little-endian, so an argument's low word comes first.
bool keepOwnPriority()
{
    if (kArch == 0)
        return false;
    constexpr auto arg = [](int i) { return unsigned(offsetof(seccomp_data, args) + size_t(i) * sizeof(__u64)); };
    sock_filter rules[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, unsigned(offsetof(seccomp_data, arch))),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, unsigned(offsetof(seccomp_data, nr))),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(__NR_setpriority), 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, arg(0)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(PRIO_PROCESS), 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, arg(1)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | 0), // errno 0: success, nothing done
    };
    const sock_fprog program{static_cast<unsigned short>(sizeof rules / sizeof rules[0]), rules};
    // An unprivileged thread may filter its own calls only once it can never
    // gain privileges; these threads run no programs.
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
           && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
}

} // namespace

bool runWithPriorityKept(const std::function<void()>& work, int lowerBy)
{
    bool kept = false;
    std::thread opener([&] {
        if (lowerBy > 0) {
            // The nice value belongs to the thread on Linux; failure leaves it as it was.
            const auto tid = static_cast<id_t>(syscall(SYS_gettid));
            errno = 0;
            const int current = getpriority(PRIO_PROCESS, tid);
            if (errno == 0)
                setpriority(PRIO_PROCESS, tid, std::min(current + lowerBy, 19));
        }
        kept = keepOwnPriority();
        work();
    });
    opener.join();
    return kept;
}

} // namespace corvessa
