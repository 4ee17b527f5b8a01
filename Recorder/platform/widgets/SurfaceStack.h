#pragma once

#include "platform/FloatingSurfaces.h"

#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace corvessa {

// The bookkeeping both floating-surface backends share: the Qt side of
// preparing a surface, and what each prepared surface asked for (level,
// click-through, visible region), and in which order they were raised. Windows
// that go away are forgotten. Main thread.
class SurfaceStack {
public:
    struct Entry {
        QPointer<QWidget> window;
        FloatingSurfaces::Options options;
        QRegion visible; // empty: no shape
        QRegion painted; // a canvas's painted part, as reported
        uint64_t raised = 0; // later raises are higher within a level
    };

    // Sets the window flags and attributes the options call for and remembers
    // the window (a second call replaces its options).
    Entry& prepare(QWidget* window, const FloatingSurfaces::Options& options);
    // Null for a window never prepared.
    Entry* find(const QWidget* window);
    // Makes the window the highest of its level.
    void raise(const QWidget* window);
    // The visible surfaces bottom to top: by level, then by their last raise.
    std::vector<Entry*> visibleOrder();

    // Who wants to hear that a compositing manager came or went: `changed`
    // runs for as long as `context` lives.
    void watchCompositing(QObject* context, std::function<void()> changed);
    void compositingChanged();

private:
    struct Watcher {
        QPointer<QObject> context;
        std::function<void()> changed;
    };
    std::vector<std::unique_ptr<Entry>> m_entries; // stable addresses for callers
    std::vector<Watcher> m_watchers;
    uint64_t m_raises = 0;
};

} // namespace corvessa
