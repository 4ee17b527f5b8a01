#include "platform/ClickObservers.h"

#include <vector>

namespace corvessa {

namespace {

class Removal : public OutsideClickMonitor::Subscription {
public:
    Removal(std::weak_ptr<std::map<int, OutsideClickMonitor::Handler>> handlers, int id)
        : m_handlers(std::move(handlers)), m_id(id)
    {
    }
    ~Removal() override
    {
        if (const auto handlers = m_handlers.lock())
            handlers->erase(m_id);
    }

private:
    std::weak_ptr<std::map<int, OutsideClickMonitor::Handler>> m_handlers;
    int m_id;
};

} // namespace

ClickObservers::ClickObservers() : m_handlers(std::make_shared<Handlers>()) {}

std::unique_ptr<OutsideClickMonitor::Subscription> ClickObservers::add(OutsideClickMonitor::Handler handler)
{
    const int id = m_next++;
    m_handlers->emplace(id, std::move(handler));
    return std::make_unique<Removal>(m_handlers, id);
}

void ClickObservers::notify(const QPointF& position, int button) const
{
    // A handler may close a menu whose subscription goes with it: walk the ids
    // as they were and skip the ones removed meanwhile.
    std::vector<int> ids;
    for (const auto& [id, handler] : *m_handlers)
        ids.push_back(id);
    const std::shared_ptr<Handlers> keep = m_handlers;
    for (const int id : ids) {
        const auto it = keep->find(id);
        if (it == keep->end())
            continue;
        const OutsideClickMonitor::Handler handler = it->second; // may erase itself while running
        handler(position, button);
    }
}

} // namespace corvessa
