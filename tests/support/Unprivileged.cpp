#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvessa::test {

void runUnprivileged(const std::function<void()>& work)
{
    if (geteuid() != 0) {
        work();
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0
            || setresuid(nobody, nobody, nobody) != 0)
            _exit(2);
        work();
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace corvessa::test
