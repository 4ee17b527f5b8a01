#include "platform/core/ProcessServices.h"

#include <mutex>
#include <vector>

namespace corvessa {

namespace {

struct Ends {
    std::mutex lock;
    std::vector<std::function<void()>> list;
};

// Never destroyed: a service created during the C runtime's clean-up may still register.
Ends& ends()
{
    static auto* e = new Ends;
    return *e;
}

} // namespace

void ProcessServices::atEnd(std::function<void()> end)
{
    Ends& e = ends();
    std::lock_guard guard(e.lock);
    e.list.push_back(std::move(end));
}

void ProcessServices::endAll()
{
    Ends& e = ends();
    for (;;) {
        std::function<void()> end;
        {
            std::lock_guard guard(e.lock);
            if (e.list.empty())
                return;
            end = std::move(e.list.back());
            e.list.pop_back();
        }
        // Outside the lock: an end may create or end another service.
        end();
    }
}

} // namespace corvessa
