#pragma once

#include "platform/Permissions.h"
#include "platform/v4l2/V4L2Io.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

namespace corvessa {

// Camera access on V4L2: denied only when video nodes exist and every one
// refuses us for lack of permission (the user is not in the "video" group);
// granted otherwise, also with no camera at all, since a camera plugged in
// later may well open. The refusal is logged once per spell of denial, not at
// every probe. Thread-safe.
class V4L2CameraAccess {
public:
    explicit V4L2CameraAccess(std::shared_ptr<V4L2Io> io, QString directory = QStringLiteral("/dev"));

    // Checks each video node's permissions; nothing is opened, so no camera
    // wakes up (or lights up) at every probe.
    Permissions::Access probe();

    // One node's answer: the errno of access(2) on it, 0 when it may be opened.
    struct Attempt {
        QString node;
        int error = 0;
    };
    static Permissions::Access decide(const std::vector<Attempt>& attempts);
    // The log line for a refusal, naming the nodes and the group.
    static QString refusalLine(const std::vector<Attempt>& attempts);

private:
    const std::shared_ptr<V4L2Io> m_io;
    const QString m_directory;
    std::mutex m_mutex;   // one probe at a time; guards m_told
    bool m_told = false;  // the current denial is in the log
};

} // namespace corvessa
