#include "platform/DisplayList.h"

namespace corvessa {

const DisplayInfo* DisplayList::find(const std::vector<DisplayInfo>& displays, uint32_t id)
{
    for (const DisplayInfo& d : displays) {
        if (d.id == id)
            return &d;
    }
    return nullptr;
}

const DisplayInfo* DisplayList::primaryOf(const std::vector<DisplayInfo>& displays)
{
    for (const DisplayInfo& d : displays) {
        if (d.isPrimary)
            return &d;
    }
    return displays.empty() ? nullptr : &displays.front();
}

std::optional<DisplayInfo> DisplayList::display(uint32_t id) const
{
    const std::vector<DisplayInfo> all = displays();
    const DisplayInfo* d = find(all, id);
    return d ? std::optional(*d) : std::nullopt;
}

std::optional<DisplayInfo> DisplayList::primary() const
{
    const std::vector<DisplayInfo> all = displays();
    const DisplayInfo* d = primaryOf(all);
    return d ? std::optional(*d) : std::nullopt;
}

} // namespace corvessa
