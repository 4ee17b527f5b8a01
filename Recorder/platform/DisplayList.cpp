#include "platform/DisplayList.h"

namespace corvessa {

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

} // namespace corvessa
