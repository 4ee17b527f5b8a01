#include "platform/x11/X11ScreenSaverPowerControl.h"

#include "platform/x11/X11Handles.h"

#include <utility>

#include <X11/extensions/scrnsaver.h>

namespace corvessa {

X11ScreenSaverPowerControl::X11ScreenSaverPowerControl(Log log, QString displayName)
    : m_log(std::move(log)), m_displayName(std::move(displayName))
{
}

X11ScreenSaverPowerControl::~X11ScreenSaverPowerControl()
{
    close(); // the closing connection lifts the suspension
}

void X11ScreenSaverPowerControl::close()
{
    if (m_connection)
        X11Free()(std::exchange(m_connection, nullptr));
}

uint32_t X11ScreenSaverPowerControl::holdDisplayAwake(const QString&)
{
    std::lock_guard lock(m_mutex);
    if (!m_connection) {
        X11DisplayPtr connection = openX11Display(m_displayName);
        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 0;
        // Suspending came with version 1.1 of the extension.
        if (!connection || !XScreenSaverQueryExtension(connection.get(), &event, &error)
            || !XScreenSaverQueryVersion(connection.get(), &major, &minor) || (major == 1 && minor < 1)) {
            if (m_log)
                m_log(connection ? QStringLiteral("[power] the X server cannot suspend its screen saver, the display "
                                                  "may sleep while recording")
                                 : QStringLiteral("[power] no X server to hold the display awake"));
            return 0;
        }
        m_connection = connection.release();
        if (m_log)
            m_log(QStringLiteral("[power] the X server's screen saver and display power saving are suspended "
                                 "while recording"));
    }
    // The server counts our suspensions and resumes when they are all lifted.
    XScreenSaverSuspend(m_connection, True);
    XFlush(m_connection);
    const uint32_t id = m_next++;
    if (m_next == 0)
        m_next = 1;
    m_holds.insert(id);
    return id;
}

void X11ScreenSaverPowerControl::release(uint32_t id)
{
    std::lock_guard lock(m_mutex);
    if (!m_holds.erase(id) || !m_connection)
        return;
    XScreenSaverSuspend(m_connection, False);
    XFlush(m_connection);
    if (m_holds.empty())
        close();
}

} // namespace corvessa
