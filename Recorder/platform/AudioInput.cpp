#include "platform/AudioInput.h"

#include "platform/pulse/PulseAudioInput.h"
#include "platform/synthetic/SyntheticAudioInput.h"

#include <QByteArray>

#include <mutex>

namespace corvessa {

namespace {

std::mutex& currentMutex()
{
    static std::mutex m;
    return m;
}

std::shared_ptr<AudioInput>& installed()
{
    static std::shared_ptr<AudioInput> input;
    return input;
}

} // namespace

std::shared_ptr<AudioInput> AudioInput::current()
{
    std::lock_guard lock(currentMutex());
    auto& input = installed();
    if (!input) {
        // No automatic fallback to the tone: a meter showing a tone where the server
        // is missing would hide the problem from the user.
        if (qgetenv("CORVESSA_AUDIO") == "synthetic")
            input = std::make_shared<SyntheticAudioInput>();
        else
            input = std::make_shared<PulseAudioInput>();
    }
    return input;
}

void AudioInput::setCurrent(std::shared_ptr<AudioInput> input)
{
    std::lock_guard lock(currentMutex());
    installed() = std::move(input);
}

} // namespace corvessa
