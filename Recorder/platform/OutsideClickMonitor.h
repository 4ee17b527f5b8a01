#pragma once

#include <QPointF>

#include <functional>
#include <memory>

namespace corvessa {

// Tells about every mouse-button press anywhere on the screen, in our own
// windows and in other programs', without taking it: the press still reaches
// the window under the pointer. Backend: X11OutsideClickMonitor (XInput2 raw
// button events on the root window); the synthetic twin is driven by tests.
// Main thread: handlers run there.
class OutsideClickMonitor {
public:
    // `position` is the pointer in global Qt coordinates (points, y down);
    // `button` 1 left, 2 middle, 3 right, others as X numbers them.
    using Handler = std::function<void(const QPointF& position, int button)>;

    // Keeps the handler installed while the returned object lives.
    class Subscription {
    public:
        virtual ~Subscription() = default;
    };

    virtual ~OutsideClickMonitor() = default;

    // The monitor for the program, one for it: X11 when Qt runs on X (its
    // observe() answers null without XInput2), else the twin tests drive.
    // Chosen by the platform loader on first use.
    static std::shared_ptr<OutsideClickMonitor> current();

    // Null when presses cannot be observed (no X server, no XInput2); the caller
    // then relies on its own windows' events.
    virtual std::unique_ptr<Subscription> observe(Handler handler) = 0;
};

} // namespace corvessa
