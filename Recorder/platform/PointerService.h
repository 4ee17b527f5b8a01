#pragma once

#include "platform/core/GlobalPoint.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace corvessa {

// Where the mouse is and whether its primary button is down.
struct PointerState {
    GlobalPoint location;
    bool primaryDown = false; // the primary (logical first) button
};

// The cursor the system shows right now.
struct CursorImage {
    uint64_t serial = 0; // changes whenever the server's cursor changes
    QString name;        // the theme name ("left_ptr", "xterm", ...); empty for an unnamed cursor
    QImage image;        // ARGB32, premultiplied
    QSizeF size;         // in points
    QPointF hot;         // hot spot in points from the image's top-left corner

    // Whether this is the ordinary arrow, which the program draws from its own themes.
    bool isPlainArrow() const;
};

// The mouse pointer and the cursor shape. Backends: X11PointerService (the X
// server) and SyntheticPointerService (settable, for tests and machines without
// X). Calls are thread-safe; they are made from the main thread's 16 ms poll,
// so a backend answers quickly and never blocks for long.
class PointerService {
public:
    virtual ~PointerService() = default;

    // Nothing when the pointer cannot be read (no display, pointer on another X screen).
    virtual std::optional<PointerState> state() = 0;
    // Nothing when the cursor image cannot be read.
    virtual std::optional<CursorImage> cursorImage() = 0;
    // A window's frame in window-server space (points, origin at the top left of
    // the primary display, y down), borders included; nothing when there is no
    // such window.
    virtual std::optional<QRectF> windowFrame(uint32_t windowId) = 0;

    // The cursor names themes give the ordinary arrow.
    static bool isPlainArrowName(const QString& name);

    // The process-wide service. Unless one was installed, the first call picks
    // the X server's when it can be reached, else a synthetic one with the
    // pointer resting at the origin.
    static std::shared_ptr<PointerService> current();
    // Installs the process-wide service; null goes back to the automatic choice.
    static void setCurrent(std::shared_ptr<PointerService> service);
};

} // namespace corvessa
