#include "platform/core/MainLoopScheduler.h"

#include "platform/core/HostClock.h"
#include "platform/core/MainQueue.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvessa {

namespace {

// A QTimer owned by the handle. Dropping the handle stops the timer at once and
// deletes it later, since the handle may be dropped by the timer's own task.
class QtTimer final : public Scheduler::Timer {
public:
    QtTimer(double seconds, double tolerance, bool repeating, Scheduler::Task task)
        : m_timer(new QTimer)
    {
        const double ms = std::isfinite(seconds) ? std::clamp(seconds * 1000.0, 0.0, 2.0e9) : 2.0e9;
        m_timer->setSingleShot(!repeating);
        // A coarse timer may fire up to 5 % late, which is what a tolerance of that
        // size allows; below it, keep to the millisecond.
        m_timer->setTimerType(repeating && tolerance >= 0.05 * seconds ? Qt::CoarseTimer : Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, [task = std::move(task)] { task(); });
        m_timer->start(int(std::lround(ms)));
    }
    ~QtTimer() override
    {
        m_timer->stop();
        m_timer->disconnect();
        m_timer->deleteLater();
    }

private:
    QTimer* m_timer;
};

} // namespace

MainLoopScheduler& MainLoopScheduler::shared()
{
    static MainLoopScheduler scheduler;
    return scheduler;
}

double MainLoopScheduler::now() const
{
    return HostClock::seconds();
}

void MainLoopScheduler::post(Task task)
{
    MainQueue::async(std::move(task));
}

Scheduler::TimerRef MainLoopScheduler::after(double seconds, Task task)
{
    return std::make_unique<QtTimer>(seconds, 0, false, std::move(task));
}

Scheduler::TimerRef MainLoopScheduler::every(double seconds, double tolerance, Task task)
{
    return std::make_unique<QtTimer>(seconds, tolerance, true, std::move(task));
}

} // namespace corvessa
