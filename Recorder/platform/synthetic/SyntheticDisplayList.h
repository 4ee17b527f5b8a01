#pragma once

#include "platform/DisplayList.h"

#include <mutex>

namespace corvessa {

// A display list that reports what it was given; a display given without a
// visible frame or label gets its frame and name for them. Thread-safe.
class SyntheticDisplayList : public DisplayList {
public:
    SyntheticDisplayList() = default;
    explicit SyntheticDisplayList(std::vector<DisplayInfo> displays);

    std::vector<DisplayInfo> displays() const override;
    void setDisplays(std::vector<DisplayInfo> displays);

    // A display with its id derived from the name, the uuid and label set to the
    // name and the whole frame visible.
    static DisplayInfo makeDisplay(const QString& name, const GlobalRect& frame, double scale = 1,
                                   double refreshRate = 60, bool isPrimary = false);
    // One primary 1920x1080 display at 60 Hz named "SYNTHETIC-1".
    static std::vector<DisplayInfo> defaultDisplays();

private:
    mutable std::mutex m_mutex;
    std::vector<DisplayInfo> m_displays;
};

} // namespace corvessa
