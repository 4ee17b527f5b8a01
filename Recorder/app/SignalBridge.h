#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace corvessa {

// Turns SIGTERM, SIGHUP and SIGINT into a Qt signal on the main thread: the
// handler only writes the signal number to a pipe, which the event loop reads.
// A watcher thread sees that a signal ends the program even when the main
// thread is held up (a long layout, a stuck call): when the event loop has not
// taken a signal within answerSeconds, or the program has not ended
// endSeconds after the first signal, the watcher runs `unanswered` on its own
// thread and ends the process with status 0. The object lives on the main
// thread; the watcher owns only its pipe ends.
class SignalBridge : public QObject {
    Q_OBJECT
public:
    static constexpr int answerMs = 2000;
    // The main thread's own save waits up to 15 s for a file being finished.
    static constexpr int endMs = 20000;
    // How long the watcher waits for `unanswered` (a stop drains audio for up
    // to 3 s, then finishes the movie).
    static constexpr int finishMs = 15000;

    explicit SignalBridge(std::function<void()> unanswered = {}, QObject* parent = nullptr);
    ~SignalBridge() override;

signals:
    void received(int signalNumber);

private:
    void readPipe();
    void watch();
    [[noreturn]] void giveUp(const char* why);

    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_unanswered;
    // Signals the watcher saw, and those the event loop took.
    std::atomic<uint64_t> m_seen{0};
    std::atomic<uint64_t> m_taken{0};
    int m_stop[2] = {-1, -1};
    std::thread m_watcher;
};

} // namespace corvessa
