#pragma once

#include "platform/core/WakeFd.h"

#include <QString>

#include <chrono>
#include <functional>
#include <thread>

namespace corvessa {

// Notices video device nodes appearing, disappearing or changing permissions in
// a directory (inotify on /dev), and calls back on its own thread once a burst
// of such events has settled, because udev creates a camera's nodes, links and
// permissions one after another.
class V4L2DeviceWatcher {
public:
    // Long enough for udev to finish a camera's nodes and /dev/v4l links.
    static constexpr std::chrono::milliseconds kDefaultSettle{500};

    V4L2DeviceWatcher(QString directory, std::function<void()> changed,
                      std::chrono::milliseconds settle = kDefaultSettle);
    ~V4L2DeviceWatcher();
    V4L2DeviceWatcher(const V4L2DeviceWatcher&) = delete;
    V4L2DeviceWatcher& operator=(const V4L2DeviceWatcher&) = delete;

    // False when the directory cannot be watched (then nothing is ever noticed).
    bool isWatching() const { return m_watch >= 0; }

    // Whether an event's file name concerns a video node ("video3").
    static bool isVideoNode(const char* name);

private:
    void run();

    const std::function<void()> m_changed;
    const std::chrono::milliseconds m_settle;
    int m_inotify = -1;
    int m_watch = -1;
    const WakeFd m_wake; // ends the thread's wait
    std::thread m_thread;
};

} // namespace corvessa
