#pragma once

#include <QString>

namespace corvessa {

// The program's diagnostic log: one time-stamped line per call, appended to
// recorder.log in the state folder. A file that has grown past 512 KiB is
// deleted and started afresh. Lines from concurrent threads never interleave.
// Never fails towards the caller.
class RecorderLog {
public:
    static constexpr qint64 sizeLimit = 524288;

    static void write(const QString& message);
    // The line as written: ISO 8601 UTC time, a space, the message, a line feed.
    static QByteArray formatLine(const QString& message);
};

} // namespace corvessa
