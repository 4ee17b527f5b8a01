#include "platform/core/SerialQueue.h"

#include "platform/core/RecorderLog.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include <cerrno>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace corvessa {

namespace {

// Linux thread names hold 15 bytes plus the terminator.
constexpr size_t kThreadNameMax = 15;
// Utility queues (idle level meters) yield to the recording threads. Lowering
// priority needs no privilege, and nothing is ever raised.
constexpr int kUtilityNiceIncrement = 4;

// The queue whose thread this is, for isCurrent(); set once by the thread itself.
thread_local const void* t_currentQueue = nullptr;

SerialQueue::Clock::time_point addSaturating(SerialQueue::Clock::time_point t, SerialQueue::Duration d)
{
    if (d > SerialQueue::Clock::time_point::max() - t)
        return SerialQueue::Clock::time_point::max();
    return t + d;
}

std::string threadName(const std::string& label)
{
    if (label.size() <= kThreadNameMax)
        return label;
    // Cut before a UTF-8 character that would straddle the limit.
    size_t cut = kThreadNameMax;
    while (cut > 0 && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80)
        --cut;
    return label.substr(0, cut);
}

void applyQoS(SerialQueue::QoS qos)
{
    if (qos != SerialQueue::QoS::Utility)
        return;
    // On Linux the nice value belongs to the thread; failure only leaves it as it was.
    const pid_t tid = gettid();
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), std::min(current + kUtilityNiceIncrement, 19));
}

void performGuarded(const std::string& label, WorkItem& item)
{
    // An escaping exception would end the process, and with it a recording in progress.
    try {
        item.perform();
    } catch (const std::exception& e) {
        RecorderLog::write(QStringLiteral("[queue] %1: a block threw: %2").arg(QString::fromStdString(label), QString::fromUtf8(e.what())));
    } catch (...) {
        RecorderLog::write(QStringLiteral("[queue] %1: a block threw an unknown exception").arg(QString::fromStdString(label)));
    }
}

} // namespace

struct SerialQueue::State {
    struct Job {
        WorkItemRef item;
        Clock::time_point due; // the scheduled deadline; repeating timers keep their phase from it
        Duration interval{0};  // zero for one-shot work
        Duration leeway{0};
    };
    using Key = std::pair<Clock::time_point, uint64_t>; // deadline, then order of scheduling

    State(std::string l, QoS q) : label(std::move(l)), qos(q) {}

    // Moves the timed jobs that are due behind the work already waiting.
    void promoteDue(Clock::time_point now)
    {
        while (!timed.empty() && timed.begin()->first.first <= now) {
            ready.push_back(std::move(timed.begin()->second));
            timed.erase(timed.begin());
        }
    }

    // Takes the cancelled timed jobs out, so their blocks are released without
    // waiting for their deadlines.
    std::vector<WorkItemRef> takeCancelled()
    {
        std::vector<WorkItemRef> dead;
        for (auto it = timed.begin(); it != timed.end();) {
            if (it->second.item->isCancelled()) {
                dead.push_back(std::move(it->second.item));
                it = timed.erase(it);
            } else {
                ++it;
            }
        }
        return dead;
    }

    // The earliest deadline, pushed later within the leeways of the jobs due by
    // then, so nearby deadlines share one wake-up. No job ever runs early, and
    // none later than its own deadline plus leeway.
    Clock::time_point wakeTime() const
    {
        auto it = timed.begin();
        Clock::time_point wake = it->first.first;
        Clock::time_point bound = addSaturating(wake, it->second.leeway);
        for (++it; it != timed.end() && it->first.first <= bound; ++it) {
            wake = it->first.first;
            bound = std::min(bound, addSaturating(wake, it->second.leeway));
        }
        return wake;
    }

    const std::string label;
    const QoS qos;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> ready;
    std::map<Key, Job> timed;
    uint64_t seq = 0;
    bool stopping = false;
};

SerialQueue::SerialQueue(std::string label, QoS qos)
    : m_label(std::move(label)), m_qos(qos), m_state(std::make_shared<State>(m_label, m_qos))
{
    m_thread = std::thread([state = m_state] { run(state); });
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->wake.notify_one();
    if (!m_thread.joinable())
        return;
    // A block that destroys its own queue cannot wait for itself; the thread keeps
    // the shared state and finishes the due work on its own.
    if (std::this_thread::get_id() == m_thread.get_id())
        m_thread.detach();
    else
        m_thread.join();
}

void SerialQueue::async(std::function<void()> block)
{
    schedule(Duration::zero(), Duration::zero(), Duration::zero(), std::make_shared<WorkItem>(std::move(block)));
}

void SerialQueue::async(const WorkItemRef& item)
{
    schedule(Duration::zero(), Duration::zero(), Duration::zero(), item);
}

void SerialQueue::sync(const std::function<void()>& block)
{
    if (!block)
        return;
    if (isCurrent()) {
        block();
        return;
    }
    // The task keeps any exception for the waiting caller.
    auto task = std::make_shared<std::packaged_task<void()>>([&block] { block(); });
    std::future<void> done = task->get_future();
    async([task] { (*task)(); });
    done.get();
}

WorkItemRef SerialQueue::asyncAfter(Duration delay, std::function<void()> block, Duration leeway)
{
    auto item = std::make_shared<WorkItem>(std::move(block));
    schedule(delay, Duration::zero(), leeway, item);
    return item;
}

void SerialQueue::asyncAfter(Duration delay, const WorkItemRef& item, Duration leeway)
{
    schedule(delay, Duration::zero(), leeway, item);
}

WorkItemRef SerialQueue::scheduleTimer(Duration delay, Duration interval, std::function<void()> block, Duration leeway)
{
    if (interval <= Duration::zero())
        throw std::invalid_argument("SerialQueue \"" + m_label + "\": a repeating timer needs a positive interval");
    auto item = std::make_shared<WorkItem>(std::move(block));
    schedule(delay, interval, leeway, item);
    return item;
}

bool SerialQueue::isCurrent() const
{
    return t_currentQueue == m_state.get();
}

void SerialQueue::schedule(Duration delay, Duration interval, Duration leeway, WorkItemRef item)
{
    if (!item)
        throw std::invalid_argument("SerialQueue \"" + m_label + "\": null work item");
    const Clock::time_point now = Clock::now();
    State::Job job{std::move(item), addSaturating(now, std::max(delay, Duration::zero())), interval,
                   std::max(leeway, Duration::zero())};
    {
        std::lock_guard lock(m_state->mutex);
        // No delay means plain FIFO with async, not a race with the next promotion.
        if (delay <= Duration::zero())
            m_state->ready.push_back(std::move(job));
        else
            m_state->timed.emplace(State::Key{job.due, m_state->seq++}, std::move(job));
    }
    m_state->wake.notify_one();
}

void SerialQueue::run(const std::shared_ptr<State>& state)
{
    State& s = *state;
    pthread_setname_np(pthread_self(), threadName(s.label).c_str());
    applyQoS(s.qos);
    t_currentQueue = &s;

    std::unique_lock lock(s.mutex);
    for (;;) {
        s.promoteDue(Clock::now());
        if (!s.ready.empty()) {
            State::Job job = std::move(s.ready.front());
            s.ready.pop_front();
            lock.unlock();

            performGuarded(s.label, *job.item);
            if (job.interval > Duration::zero() && !job.item->isCancelled()) {
                // The next slot after now: fires missed while busy are dropped,
                // not run back to back.
                const Clock::time_point now = Clock::now();
                Clock::time_point next = addSaturating(job.due, job.interval);
                if (next <= now)
                    next = addSaturating(job.due, job.interval * ((now - job.due) / job.interval + 1));
                job.due = next;
            } else {
                // Released here, outside the lock: a block's captures may call back into the queue.
                job.item.reset();
            }

            lock.lock();
            if (job.item) {
                if (!s.stopping) {
                    s.timed.emplace(State::Key{job.due, s.seq++}, std::move(job));
                } else {
                    lock.unlock();
                    job.item.reset();
                    lock.lock();
                }
            }
            continue;
        }
        if (s.stopping)
            break;

        std::vector<WorkItemRef> dead = s.takeCancelled();
        if (!dead.empty()) {
            lock.unlock();
            dead.clear();
            lock.lock();
            continue;
        }
        const Clock::time_point wake = s.timed.empty() ? Clock::time_point::max() : s.wakeTime();
        if (wake == Clock::time_point::max())
            s.wake.wait(lock);
        else
            s.wake.wait_until(lock, wake);
    }

    // Work not yet due is dropped; its blocks are released outside the lock.
    std::map<State::Key, State::Job> dropped;
    dropped.swap(s.timed);
    lock.unlock();
    dropped.clear();
    t_currentQueue = nullptr;
}

} // namespace corvessa
