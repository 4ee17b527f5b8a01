#pragma once

#include "platform/core/AudioFormat.h"

#include <QString>

namespace corvessa {

// A capture device (a microphone): the server's name for it, which identifies
// it across runs, and the description shown to the user.
struct AudioDevice {
    QString name;
    QString description;
    AudioFormat nativeFormat;
    bool isDefault = false;

    bool operator==(const AudioDevice&) const = default;
};

} // namespace corvessa
