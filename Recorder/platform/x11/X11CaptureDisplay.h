#pragma once

#include "platform/ScreenStreamConfig.h"

#include <QSize>
#include <QString>

#include <optional>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11Handles.h"

namespace corvessa {

// A capture stream's own connection to the X server and what the server offers
// on it: the root window and its pixel format, and the extensions capture
// needs (Composite, Damage, XFixes) or uses when present (XShm, RandR, Shape).
// Owned by the capture thread.
class X11CaptureDisplay {
public:
    // Connects and checks the extensions and the root's pixel format; an error
    // when the server cannot be captured.
    std::optional<RecorderError> open(const QString& displayName);
    // Closes the connection; what lives on it must be gone. Also after the
    // server went away.
    void close() { m_connection.reset(); }
    // The server went away under the connection: every call on it fails at once.
    bool isLost() const { return X11ConnectionLoss::isLost(m_connection.get()); }

    explicit operator bool() const { return m_connection != nullptr; }
    Display* get() const { return m_connection.get(); }
    int screen() const { return m_screen; }
    Window root() const { return m_root; }
    Visual* rootVisual() const { return m_rootVisual; }
    int rootDepth() const { return m_rootDepth; }
    QSize rootSize() const;
    int damageEvent() const { return m_damageEvent; }
    int fixesEvent() const { return m_fixesEvent; }
    int randrEvent() const { return m_randrEvent; } // -1 without RandR
    bool hasShape() const { return m_shapeEvent >= 0; }
    int shapeEvent() const { return m_shapeEvent; } // -1 without Shape
    bool hasShm() const { return m_shm; }

private:
    X11DisplayPtr m_connection;
    int m_screen = 0;
    Window m_root = 0;
    Visual* m_rootVisual = nullptr;
    int m_rootDepth = 0;
    int m_damageEvent = 0;
    int m_fixesEvent = 0;
    int m_randrEvent = -1;
    int m_shapeEvent = -1;
    bool m_shm = false;
};

} // namespace corvessa
