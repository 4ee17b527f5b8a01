#include "capture/OutputDevice.h"

#include "platform/AudioInput.h"
#include "platform/AudioInputError.h"

namespace corvessa {

bool OutputDevice::isBuiltInSpeaker(std::shared_ptr<AudioInput> input)
{
    if (!input)
        input = AudioInput::current();
    try {
        return isBuiltInSpeaker(input->defaultSink());
    } catch (const AudioInputError&) {
        return true;
    }
}

bool OutputDevice::isBuiltInSpeaker(const std::optional<AudioSink>& sink)
{
    if (!sink)
        return true;
    const QString bus = sink->properties.value(QStringLiteral("device.bus")).toLower();
    if (bus == u"usb" || bus == u"bluetooth")
        return false;
    const QString formFactor = sink->properties.value(QStringLiteral("device.form_factor")).toLower();
    if (formFactor == u"headphone" || formFactor == u"headset" || formFactor == u"hands-free"
        || formFactor == u"handset")
        return false;
    for (const QString& port : {sink->activePort, sink->activePortDescription}) {
        const QString p = port.toLower();
        if (p.contains(u"headphone") || p.contains(u"headset"))
            return false;
    }
    return true;
}

} // namespace corvessa
