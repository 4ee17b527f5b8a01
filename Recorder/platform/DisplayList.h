#pragma once

#include "platform/DisplayInfo.h"

#include <memory>
#include <optional>
#include <vector>

namespace corvessa {

// The connected displays. Backends: XRandRDisplayList (the X server) and
// SyntheticDisplayList (a settable list for tests and machines without X).
class DisplayList {
public:
    virtual ~DisplayList() = default;

    // Every active display, the primary one first. A monitor plugged in or a
    // mode changed shows at the first call after the server has told of it.
    // Cheap enough for the main thread to ask at every change of state.
    virtual std::vector<DisplayInfo> displays() const = 0;

    std::optional<DisplayInfo> display(uint32_t id) const;
    std::optional<DisplayInfo> primary() const;
    // The same in a list already read: the display with `id`, and the primary
    // one (the marked one, else the first); null when there is none.
    static const DisplayInfo* find(const std::vector<DisplayInfo>& displays, uint32_t id);
    static const DisplayInfo* primaryOf(const std::vector<DisplayInfo>& displays);

    // The process-wide list. Unless one was installed, the first call picks the X
    // server's when it can be reached, else a synthetic list with one 1920x1080
    // display at 60 Hz, so the program still runs without X.
    static std::shared_ptr<DisplayList> current();
    // Installs the process-wide list; null goes back to the automatic choice.
    static void setCurrent(std::shared_ptr<DisplayList> list);
};

} // namespace corvessa
