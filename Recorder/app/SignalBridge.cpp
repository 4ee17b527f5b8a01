#include "app/SignalBridge.h"

#include "platform/core/RecorderLog.h"

#include <chrono>
#include <optional>
#include <csignal>
#include <future>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace corvessa {

namespace {

// Read by the event loop, and by the watcher.
int g_pipe[2] = {-1, -1};
int g_watch[2] = {-1, -1};

void onSignal(int sig)
{
    // write() is async-signal-safe.
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &b, 1);
    n = ::write(g_watch[1], &b, 1);
}

// Drains `fd` (non-blocking) and answers how many bytes it held.
uint64_t drain(int fd)
{
    uint64_t count = 0;
    unsigned char buffer[64];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        count += uint64_t(n);
    return count;
}

} // namespace

SignalBridge::SignalBridge(std::function<void()> unanswered, QObject* parent)
    : QObject(parent), m_unanswered(std::move(unanswered))
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    if (g_watch[0] < 0 && ::pipe2(g_watch, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    if (::pipe2(m_stop, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    drain(g_watch[0]);
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalBridge::readPipe);
    m_watcher = std::thread([this] { watch(); });
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
    if (m_watcher.joinable()) {
        const unsigned char b = 0;
        [[maybe_unused]] const ssize_t n = ::write(m_stop[1], &b, 1);
        m_watcher.join();
    }
    for (int fd : m_stop) {
        if (fd >= 0)
            ::close(fd);
    }
}

void SignalBridge::readPipe()
{
    unsigned char b = 0;
    while (::read(g_pipe[0], &b, 1) == 1) {
        m_taken.fetch_add(1);
        emit received(int(b));
    }
}

void SignalBridge::watch()
{
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> first;
    std::optional<Clock::time_point> answerBy;
    for (;;) {
        // Without a signal waiting: sleep until one comes (or the bridge ends).
        int timeout = -1;
        const auto now = Clock::now();
        if (answerBy) {
            if (m_taken.load() >= m_seen.load()) {
                answerBy.reset();
            } else if (now >= *answerBy) {
                giveUp("the main thread did not take the signal within 2 s");
            } else {
                // Checked often: the event loop does not say when it takes one.
                timeout = 50;
            }
        }
        if (first && !answerBy) {
            const auto endBy = *first + std::chrono::milliseconds(endMs);
            if (now >= endBy)
                giveUp("the program did not end within 20 s of the signal");
            timeout = int(std::chrono::ceil<std::chrono::milliseconds>(endBy - now).count());
        }
        pollfd fds[2] = {{m_stop[0], POLLIN, 0}, {g_watch[0], POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0)
            continue;
        if (fds[0].revents)
            return;
        if (fds[1].revents) {
            const uint64_t count = drain(g_watch[0]);
            if (count == 0)
                continue;
            m_seen.fetch_add(count);
            const auto at = Clock::now();
            if (!first)
                first = at;
            if (!answerBy)
                answerBy = at + std::chrono::milliseconds(answerMs);
        }
    }
}

void SignalBridge::giveUp(const char* why)
{
    RecorderLog::write(QStringLiteral("[exit] %1: finishing the recording from the signal watcher")
                           .arg(QLatin1String(why)));
    if (m_unanswered) {
        // Bounded too: a finish that hangs must not keep the program from ending.
        auto finished = std::make_shared<std::promise<void>>();
        std::future<void> done = finished->get_future();
        std::thread([work = m_unanswered, finished] {
            work();
            finished->set_value();
        }).detach();
        if (done.wait_for(std::chrono::milliseconds(finishMs)) != std::future_status::ready)
            RecorderLog::write(QStringLiteral("[exit] the recording was not finished within 15 s"));
    }
    RecorderLog::write(QStringLiteral("[exit] ended by the signal watcher"));
    ::_exit(0);
}

} // namespace corvessa
