#pragma once

#include <functional>

class QObject;

namespace corvessa {

// Calls back whenever the screens Qt knows change: one added or removed, a new
// primary, or a screen's geometry or available geometry changed (a monitor
// moved, a new mode, a panel resized). The connections end with `context`.
// Stateless; main thread.
class QtScreenChanges {
public:
    QtScreenChanges() = delete;

    static void follow(QObject* context, std::function<void()> changed);
};

} // namespace corvessa
