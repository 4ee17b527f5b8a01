#pragma once

#include "platform/core/AudioFormat.h"

#include <QMap>
#include <QString>

namespace corvessa {

// An output device: its name, description, the source that carries what it
// plays, its active port and the server's descriptive properties (for example
// "device.bus" and "device.form_factor").
struct AudioSink {
    QString name;
    QString description;
    QString monitorSource;
    QString activePort;
    QString activePortDescription;
    AudioFormat nativeFormat;
    QMap<QString, QString> properties;

    bool operator==(const AudioSink&) const = default;
};

} // namespace corvessa
