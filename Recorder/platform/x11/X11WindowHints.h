#pragma once

#include "platform/WindowHints.h"

namespace corvessa {

// Sets EWMH properties on the program's windows through Qt's own X
// connection. Main thread.
class X11WindowHints : public WindowHints {
public:
    void showOnAllDesktops(QWindow* window) override;
    void dialogFrame(QWindow* window, bool resizable) override;
};

} // namespace corvessa
