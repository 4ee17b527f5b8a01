#include "support/VirtualScheduler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace corvessa {

struct VirtualScheduler::State {
    struct Entry {
        uint64_t id;
        double period; // 0: once
        std::shared_ptr<Task> task;
    };
    using Key = std::pair<double, uint64_t>; // due time, order armed

    std::mutex mutex;
    double now;
    uint64_t nextOrder = 0;
    std::map<Key, Entry> timers;
    std::map<uint64_t, Key> keyOf; // timer id to its current key
    uint64_t nextId = 0;
    std::deque<Task> posted;

    void schedule(double due, Entry entry)
    {
        const Key key{due, nextOrder++};
        keyOf[entry.id] = key;
        timers.emplace(key, std::move(entry));
    }
    void cancel(uint64_t id)
    {
        const auto it = keyOf.find(id);
        if (it == keyOf.end())
            return;
        timers.erase(it->second);
        keyOf.erase(it);
    }
};

// Cancels its timer when dropped; holds the state weakly, so dropping it after
// the scheduler is gone is harmless.
class VirtualScheduler::Handle final : public Scheduler::Timer {
public:
    Handle(std::weak_ptr<State> state, uint64_t id) : m_state(std::move(state)), m_id(id) {}
    ~Handle() override
    {
        if (const auto state = m_state.lock()) {
            std::lock_guard lock(state->mutex);
            state->cancel(m_id);
        }
    }

private:
    std::weak_ptr<State> m_state;
    uint64_t m_id;
};

VirtualScheduler::VirtualScheduler(double start)
    : m_state(std::make_shared<State>())
{
    m_state->now = start;
}

VirtualScheduler::~VirtualScheduler() = default;

double VirtualScheduler::now() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->now;
}

void VirtualScheduler::post(Task task)
{
    std::lock_guard lock(m_state->mutex);
    m_state->posted.push_back(std::move(task));
}

Scheduler::TimerRef VirtualScheduler::after(double seconds, Task task)
{
    return arm(seconds, 0, std::move(task));
}

Scheduler::TimerRef VirtualScheduler::every(double seconds, double, Task task)
{
    const double period = std::isnan(seconds) ? shortestPeriod : std::max(seconds, shortestPeriod);
    return arm(period, period, std::move(task));
}

Scheduler::TimerRef VirtualScheduler::arm(double delay, double period, Task task)
{
    // A delay that is not a number or negative means "as soon as possible".
    delay = std::isnan(delay) ? 0 : std::max(delay, 0.0);
    std::lock_guard lock(m_state->mutex);
    const uint64_t id = m_state->nextId++;
    m_state->schedule(m_state->now + delay, {id, period, std::make_shared<Task>(std::move(task))});
    return std::make_unique<Handle>(m_state, id);
}

void VirtualScheduler::advance(double seconds)
{
    advanceTo(now() + (seconds > 0 ? seconds : 0));
}

void VirtualScheduler::advanceTo(double t)
{
    runPosted();
    for (;;) {
        std::shared_ptr<Task> task;
        {
            std::lock_guard lock(m_state->mutex);
            State& s = *m_state;
            if (s.timers.empty() || !(s.timers.begin()->first.first <= t))
                break;
            const auto first = s.timers.begin();
            const double due = first->first.first;
            State::Entry entry = std::move(first->second);
            s.timers.erase(first);
            s.now = std::max(s.now, due);
            task = entry.task;
            if (entry.period > 0)
                s.schedule(due + entry.period, std::move(entry));
            else
                s.keyOf.erase(entry.id);
        }
        (*task)();
        runPosted();
    }
    setNow(t);
}

void VirtualScheduler::setNow(double t)
{
    std::lock_guard lock(m_state->mutex);
    if (t > m_state->now)
        m_state->now = t;
}

void VirtualScheduler::runPosted()
{
    for (;;) {
        Task task;
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->posted.empty())
                return;
            task = std::move(m_state->posted.front());
            m_state->posted.pop_front();
        }
        task();
    }
}

size_t VirtualScheduler::timerCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->timers.size();
}

} // namespace corvessa
