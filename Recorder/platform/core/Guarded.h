#pragma once

#include <condition_variable>
#include <mutex>
#include <type_traits>
#include <utility>

namespace corvessa {

// A value that can only be reached with its mutex held, so no code path can
// read or write it unlocked by mistake. Any thread; the lock is the owner.
//
//     Guarded<State> m_state;
//     m_state.with([&](State& s) { s.count++; });
//     auto locked = m_state.lock();   // locked->count, until `locked` goes away
template <typename T>
class Guarded {
public:
    // Holds the lock for as long as it lives; reach the value through -> or *.
    // Neither copied nor moved: a moved-from view would still reach the value
    // after its lock went with the move.
    class Locked {
    public:
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;
        T* operator->() { return m_value; }
        T& operator*() { return *m_value; }
        // Waits on `cv` with the lock released while waiting (the predicate sees the value).
        template <typename Predicate>
        void wait(std::condition_variable& cv, Predicate ready)
        {
            cv.wait(m_lock, [&] { return ready(*m_value); });
        }
        template <typename Predicate, typename Duration>
        bool waitFor(std::condition_variable& cv, Duration timeout, Predicate ready)
        {
            return cv.wait_for(m_lock, timeout, [&] { return ready(*m_value); });
        }

    private:
        friend class Guarded;
        Locked(std::mutex& mutex, T* value) : m_lock(mutex), m_value(value) {}
        std::unique_lock<std::mutex> m_lock;
        T* m_value;
    };

    // Read-only view for const owners.
    class ConstLocked {
    public:
        ConstLocked(const ConstLocked&) = delete;
        ConstLocked& operator=(const ConstLocked&) = delete;
        const T* operator->() const { return m_value; }
        const T& operator*() const { return *m_value; }

    private:
        friend class Guarded;
        ConstLocked(std::mutex& mutex, const T* value) : m_lock(mutex), m_value(value) {}
        std::unique_lock<std::mutex> m_lock;
        const T* m_value;
    };

    Guarded() = default;
    template <typename... Args>
    explicit Guarded(std::in_place_t, Args&&... args) : m_value(std::forward<Args>(args)...)
    {
    }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    Locked lock() { return Locked(m_mutex, &m_value); }
    ConstLocked lock() const { return ConstLocked(m_mutex, &m_value); }

    // Runs `f` on the value under the lock and returns what it returns, which
    // must be a copy: a reference would outlive the lock.
    template <typename F>
    auto with(F&& f) -> std::invoke_result_t<F, T&>
    {
        static_assert(!std::is_reference_v<std::invoke_result_t<F, T&>>, "with() must not hand out a reference");
        std::lock_guard guard(m_mutex);
        return std::forward<F>(f)(m_value);
    }
    template <typename F>
    auto with(F&& f) const -> std::invoke_result_t<F, const T&>
    {
        static_assert(!std::is_reference_v<std::invoke_result_t<F, const T&>>,
                      "with() must not hand out a reference");
        std::lock_guard guard(m_mutex);
        return std::forward<F>(f)(m_value);
    }

private:
    mutable std::mutex m_mutex;
    T m_value{};
};

} // namespace corvessa
