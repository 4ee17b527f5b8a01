#pragma once

#include <sys/types.h>

#include <memory>

namespace corvessa {

// Raises the threads that deliver the sound being recorded above the rest of
// the program, so a busy encoder never starves them. Backends:
// RealtimeKitThreadBoost (the desktop's RealtimeKit on the system bus) and
// SyntheticAudioThreadBoost, which changes nothing, where there is no system
// bus. Any thread, a sound server's loop thread included: nothing here waits on
// another process.
class AudioThreadBoost {
public:
    virtual ~AudioThreadBoost() = default;

    // Asks for kernel thread `tid` of this process to be raised. Returns at
    // once; the request is made later, elsewhere.
    virtual void boost(pid_t tid) = 0;
    // `tid` delivers nothing more (it may end soon): it is asked for no longer,
    // and no longer put back to normal scheduling with the others.
    virtual void release(pid_t tid) = 0;

    // The process-wide service; setCurrent(nullptr) goes back to the automatic choice.
    static std::shared_ptr<AudioThreadBoost> current();
    static void setCurrent(std::shared_ptr<AudioThreadBoost> boost);
};

} // namespace corvessa
