#pragma once

#include <QString>

namespace corvessa {

// What failed in the movie writer's encoding or muxing, and FFmpeg's error code
// for it: the writer turns it into its error and stops. A plain value.
struct FFmpegFailure {
    QString what;
    int code = 0;
};

} // namespace corvessa
