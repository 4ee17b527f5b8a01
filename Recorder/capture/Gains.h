#pragma once

#include <mutex>

namespace corvessa {

// The linear gain factors of microphone and system audio: set by the interface
// on the main thread, read by the engine on its queue. Each factor is read and
// written atomically on its own (the pair is not read together).
class Gains {
public:
    float mic() const
    {
        std::lock_guard lock(l);
        return _mic;
    }
    void setMic(float v)
    {
        std::lock_guard lock(l);
        _mic = v;
    }
    float sys() const
    {
        std::lock_guard lock(l);
        return _sys;
    }
    void setSys(float v)
    {
        std::lock_guard lock(l);
        _sys = v;
    }

private:
    mutable std::mutex l;
    float _mic = 1.0f;
    float _sys = 1.0f;
};

} // namespace corvessa
