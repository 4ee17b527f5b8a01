#include "platform/DisplayList.h"

#include "platform/synthetic/SyntheticDisplayList.h"
#include "platform/x11/XRandRDisplayList.h"

#include <mutex>

namespace corvessa {

namespace {

struct CurrentList {
    std::mutex mutex;
    std::shared_ptr<DisplayList> list;
};

CurrentList& currentList()
{
    static CurrentList c;
    return c;
}

} // namespace

std::optional<DisplayInfo> DisplayList::display(uint32_t id) const
{
    for (DisplayInfo& d : displays()) {
        if (d.id == id)
            return std::move(d);
    }
    return std::nullopt;
}

std::optional<DisplayInfo> DisplayList::primary() const
{
    std::vector<DisplayInfo> all = displays();
    for (DisplayInfo& d : all) {
        if (d.isPrimary)
            return std::move(d);
    }
    if (!all.empty())
        return std::move(all.front());
    return std::nullopt;
}

std::shared_ptr<DisplayList> DisplayList::current()
{
    CurrentList& c = currentList();
    std::lock_guard lock(c.mutex);
    if (!c.list) {
        if (XRandRDisplayList::isAvailable())
            c.list = std::make_shared<XRandRDisplayList>();
        else
            c.list = std::make_shared<SyntheticDisplayList>(SyntheticDisplayList::defaultDisplays());
    }
    return c.list;
}

void DisplayList::setCurrent(std::shared_ptr<DisplayList> list)
{
    CurrentList& c = currentList();
    std::lock_guard lock(c.mutex);
    c.list = std::move(list);
}

} // namespace corvessa
