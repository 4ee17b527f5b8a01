#include "platform/pulse/PulseMicrophoneAccess.h"

#include "platform/pulse/PulseContext.h"

namespace corvessa {

Permissions::Access PulseMicrophoneAccess::probe(const QString& clientName, int timeoutMs)
{
    try {
        PulseContext c(clientName, timeoutMs);
        return Permissions::Access::granted;
    } catch (const AudioInputError&) {
        return Permissions::Access::denied;
    }
}

} // namespace corvessa
