#pragma once

#include "platform/core/SerialQueue.h"

#include <QString>

#include <chrono>

namespace corvessa {

// Seconds as the engine's queues take them.
inline SerialQueue::Duration queueSeconds(double s)
{
    return std::chrono::duration_cast<SerialQueue::Duration>(std::chrono::duration<double>(s));
}

// Seconds as the event lines give them.
inline QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1);
}

} // namespace corvessa
