#include "platform/core/MainQueue.h"

#include "platform/core/RecorderLog.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <exception>
#include <stdexcept>
#include <utility>

namespace corvessa {

namespace {

using Clock = std::chrono::steady_clock;

// Long delays are armed in steps: Qt timers take an int of milliseconds.
constexpr std::chrono::milliseconds kLongestTimerStep = std::chrono::hours(24);

void runGuarded(const std::function<void()>& block)
{
    // An exception must not unwind through the Qt event loop.
    try {
        block();
    } catch (const std::exception& e) {
        RecorderLog::write(QStringLiteral("[queue] main: a block threw: %1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
        RecorderLog::write(QStringLiteral("[queue] main: a block threw an unknown exception"));
    }
}

void warnNoApplication()
{
    static std::atomic_flag warned;
    if (!warned.test_and_set())
        RecorderLog::write(QStringLiteral("[queue] main: no application object; work for the main queue is dropped"));
}

void arm(Clock::time_point deadline, std::function<void()> block);

// Qt timers count whole milliseconds and may fire a little early; such a fire
// re-arms for the rest, so the block never runs before its deadline.
void fireOrRearm(Clock::time_point deadline, std::function<void()> block)
{
    if (Clock::now() >= deadline)
        runGuarded(block);
    else
        arm(deadline, std::move(block));
}

// Main thread only: QTimer needs the event loop of the thread it runs on.
void arm(Clock::time_point deadline, std::function<void()> block)
{
    const auto remaining = std::max(Clock::duration::zero(), deadline - Clock::now());
    const auto step = std::min(std::chrono::ceil<std::chrono::milliseconds>(remaining), kLongestTimerStep);
    QTimer::singleShot(step, Qt::PreciseTimer, QCoreApplication::instance(),
                       [deadline, block = std::move(block)]() mutable { fireOrRearm(deadline, std::move(block)); });
}

} // namespace

void MainQueue::async(std::function<void()> block)
{
    if (!block)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        warnNoApplication();
        return;
    }
    QMetaObject::invokeMethod(app, [block = std::move(block)] { runGuarded(block); }, Qt::QueuedConnection);
}

void MainQueue::async(const WorkItemRef& item)
{
    if (!item)
        throw std::invalid_argument("MainQueue: null work item");
    async([item] { item->perform(); });
}

void MainQueue::asyncAfter(std::chrono::milliseconds delay, std::function<void()> block)
{
    if (!block)
        return;
    if (!QCoreApplication::instance()) {
        warnNoApplication();
        return;
    }
    // The deadline counts from this call, not from the hop to the main thread.
    const Clock::time_point deadline = Clock::now() + std::max(delay, std::chrono::milliseconds::zero());
    if (isCurrent()) {
        arm(deadline, std::move(block));
        return;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [deadline, block = std::move(block)]() mutable { arm(deadline, std::move(block)); },
        Qt::QueuedConnection);
}

void MainQueue::asyncAfter(std::chrono::milliseconds delay, const WorkItemRef& item)
{
    if (!item)
        throw std::invalid_argument("MainQueue: null work item");
    asyncAfter(delay, [item] { item->perform(); });
}

void MainQueue::sync(const std::function<void()>& block)
{
    if (!block)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        block();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        app,
        [&] {
            try {
                block();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
}

bool MainQueue::isCurrent()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace corvessa
