#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace corvessa {

// The handlers registered with a service, each kept while its token lives.
// Thread-safe; handlers are called outside the lock, so one may end its own or
// another observation.
template <typename... Args>
class ObserverList {
public:
    using Handler = std::function<void(Args...)>;

    // The handler stays registered until the last copy of the token is dropped.
    // The token outlives the list harmlessly: it holds it weakly.
    std::shared_ptr<void> add(Handler handler)
    {
        uint64_t id = 0;
        {
            std::lock_guard lock(m_state->mutex);
            id = m_state->next++;
            m_state->handlers.emplace(id, std::make_shared<const Handler>(std::move(handler)));
        }
        std::weak_ptr<State> weak = m_state;
        return std::shared_ptr<void>(new char(0), [weak, id](char* token) {
            delete token;
            if (auto state = weak.lock()) {
                std::shared_ptr<const Handler> dropped; // released after the lock, with its captures
                std::lock_guard lock(state->mutex);
                if (auto it = state->handlers.find(id); it != state->handlers.end()) {
                    dropped = std::move(it->second);
                    state->handlers.erase(it);
                }
            }
        });
    }

    // Calls every current handler on the calling thread.
    void notify(const Args&... args) const
    {
        std::vector<std::shared_ptr<const Handler>> handlers;
        {
            std::lock_guard lock(m_state->mutex);
            for (const auto& [id, handler] : m_state->handlers)
                handlers.push_back(handler);
        }
        for (const auto& handler : handlers) {
            if (*handler)
                (*handler)(args...);
        }
    }

    size_t count() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->handlers.size();
    }

private:
    struct State {
        std::mutex mutex;
        std::map<uint64_t, std::shared_ptr<const Handler>> handlers;
        uint64_t next = 1;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace corvessa
