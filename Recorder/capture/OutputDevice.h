#pragma once

#include "platform/AudioSink.h"

#include <memory>
#include <optional>

namespace corvessa {

class AudioInput;

// Whether the default output is the computer's own speaker, for the echo
// warning when microphone and system audio are recorded together.
class OutputDevice {
public:
    OutputDevice() = delete;

    // Asks the audio service (AudioInput::current() when null). Anything that
    // cannot be read counts as the built-in speaker, so the warning errs on the
    // side of showing.
    static bool isBuiltInSpeaker(std::shared_ptr<AudioInput> input = nullptr);
    // The decision for one output: false for USB and Bluetooth devices, for
    // headphone and headset form factors and for an active headphone or headset
    // port; true otherwise, and when there is no output.
    static bool isBuiltInSpeaker(const std::optional<AudioSink>& sink);
};

} // namespace corvessa
