#pragma once

#include "platform/DisplayInfo.h"

#include <vector>

namespace corvessa::test {

// A display whose visible frame loses `panel` points at the top.
inline DisplayInfo display(uint32_t id, const GlobalRect& frame, double panel = 0, bool primary = false)
{
    DisplayInfo d;
    d.id = id;
    d.frame = frame;
    d.visibleFrame = frame.adjusted(0, 0, 0, -panel);
    d.isPrimary = primary;
    return d;
}

// A 1920x1080 primary with a 25 pt top panel and a 1280x1024 display to its right.
inline std::vector<DisplayInfo> twoDisplays()
{
    return {display(11, GlobalRect(0, 0, 1920, 1080), 25, true), display(22, GlobalRect(1920, 0, 1280, 1024))};
}

} // namespace corvessa::test
