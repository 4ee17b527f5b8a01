#include "app/SignalBridge.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace corvessa {

namespace {

int g_pipe[2] = {-1, -1};

void onSignal(int sig)
{
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &b, 1); // async-signal-safe
}

} // namespace

SignalBridge::SignalBridge(QObject* parent)
    : QObject(parent)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalBridge::readPipe);
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT})
        sigaction(sig, &sa, nullptr);
}

SignalBridge::~SignalBridge()
{
    for (int sig : {SIGTERM, SIGHUP, SIGINT})
        std::signal(sig, SIG_DFL);
}

void SignalBridge::readPipe()
{
    unsigned char b = 0;
    while (::read(g_pipe[0], &b, 1) == 1)
        emit received(int(b));
}

} // namespace corvessa
