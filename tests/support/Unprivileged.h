#pragma once

#include <functional>

namespace corvessa::test {

// Runs `work` as a user the file permissions bind. Root ignores them, so there
// it runs in a child process that has given root up (to nobody); files it
// must reach have to be open to everyone. Failed checks inside the child fail
// the test through its exit status.
void runUnprivileged(const std::function<void()>& work);

} // namespace corvessa::test
