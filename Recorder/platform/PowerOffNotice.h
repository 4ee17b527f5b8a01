#pragma once

#include <functional>
#include <memory>

namespace corvessa {

// Tells the program that the system is about to power off or sleep, and holds
// that off while a recording is saved. Backends: LogindPowerOffNotice (logind on
// the system bus) and SyntheticPowerOffNotice (for tests). The system only waits
// for holds taken before it announces, so hold while a recording runs, and on
// the notice stop, save, then release. Main thread; nothing throws.
class PowerOffNotice {
public:
    virtual ~PowerOffNotice() = default;

    // Called on the main thread when power-off or sleep is announced.
    virtual void setOnPowerOff(std::function<void()> handler) = 0;
    // Delays power-off and sleep until release(). There is one hold at most: a
    // second call keeps the first. False when nothing could be held.
    virtual bool inhibit() = 0;
    // Lets power-off and sleep go ahead; harmless when nothing is held.
    virtual void release() = 0;

    // The process-wide service; setCurrent(nullptr) goes back to the automatic choice.
    static std::shared_ptr<PowerOffNotice> current();
    static void setCurrent(std::shared_ptr<PowerOffNotice> notice);
};

} // namespace corvessa
