#pragma once

#include "platform/MovieWriter.h"

#include <QString>

namespace corvessa {

// What failed in the movie writer's encoding or muxing, and FFmpeg's error code
// for it: the writer turns it into its error and stops. A plain value.
struct FFmpegFailure {
    QString what;
    int code = 0;
};

// An encoder that cannot be opened, as the writer's start reports it.
inline RecorderError encoderOpenError(int code, const QString& text)
{
    return RecorderError{MovieWriter::errorDomain, code, text};
}

} // namespace corvessa
