#include "platform/v4l2/V4L2DeviceWatcher.h"

#include <QFile>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvessa {

V4L2DeviceWatcher::V4L2DeviceWatcher(QString directory, std::function<void()> changed, std::chrono::milliseconds settle)
    : m_changed(std::move(changed)), m_settle(settle)
{
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0 || !m_wake.isValid())
        return;
    m_watch = inotify_add_watch(m_inotify, QFile::encodeName(directory).constData(),
                                IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO);
    if (m_watch < 0)
        return;
    m_thread = std::thread([this] { run(); });
}

V4L2DeviceWatcher::~V4L2DeviceWatcher()
{
    if (m_thread.joinable()) {
        m_wake.wake();
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
    if (m_inotify >= 0)
        ::close(m_inotify);
}

bool V4L2DeviceWatcher::isVideoNode(const char* name)
{
    return name && std::strncmp(name, "video", 5) == 0;
}

void V4L2DeviceWatcher::run()
{
    bool pending = false;
    for (;;) {
        pollfd fds[2] = {{m_inotify, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}};
        // While a burst is under way, wait for it to settle; otherwise for the next event.
        const int r = ::poll(fds, 2, pending ? int(m_settle.count()) : -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents & POLLIN)
            return;
        if (r == 0) {
            pending = false;
            if (m_changed)
                m_changed();
            continue;
        }
        if (fds[0].revents & POLLIN) {
            alignas(inotify_event) char buffer[4096];
            for (;;) {
                const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                    if ((event->mask & IN_Q_OVERFLOW) || (event->len > 0 && isVideoNode(event->name)))
                        pending = true;
                    at += ssize_t(sizeof(inotify_event) + event->len);
                }
            }
        }
    }
}

} // namespace corvessa
