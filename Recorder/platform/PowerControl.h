#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace corvessa {

// Keeps the display awake while a recording runs. Backends:
// ScreenSaverPowerControl (the desktop's screen saver service on the session
// bus) and SyntheticPowerControl (remembers what is held, for tests).
// Callable from any thread; nothing throws.
class PowerControl {
public:
    virtual ~PowerControl() = default;

    // Asks that neither the screen saver nor display sleep start; `reason` is
    // shown by desktops that list such requests. Returns an identifier for
    // release(), or 0 when the display could not be kept awake (the recording
    // goes on regardless).
    virtual uint32_t holdDisplayAwake(const QString& reason) = 0;
    // Ends a hold; 0 and unknown identifiers are ignored.
    virtual void release(uint32_t id) = 0;

    // A fresh control on the desktop's own service; `log` takes its "[power]" lines.
    static std::shared_ptr<PowerControl> create(std::function<void(const QString& line)> log);
};

} // namespace corvessa
