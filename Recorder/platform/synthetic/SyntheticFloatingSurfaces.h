#pragma once

#include "platform/FloatingSurfaces.h"
#include "platform/widgets/SurfaceStack.h"

#include <vector>

namespace corvessa {

// Floating surfaces without a window system: sets the same Qt flags as the X11
// kit and remembers what each surface asked for, so tests can read it back.
// Main thread.
class SyntheticFloatingSurfaces : public FloatingSurfaces {
public:
    void prepare(QWidget* window, const Options& options) override;
    void raise(QWidget* window) override;
    void setClickThrough(QWidget* window, bool clickThrough) override;
    void setVisibleRegion(QWidget* window, const QRegion& visible) override;
    void setPaintedRegion(QWidget* window, const QRect& area, const QRegion& painted) override;
    bool compositing() const override { return m_compositing; }
    void watchCompositing(QObject* context, std::function<void()> changed) override;

    // A compositing manager starts or stops: the watchers hear of a change.
    void setCompositing(bool compositing);
    // Null for a window never prepared.
    const SurfaceStack::Entry* surface(const QWidget* window) { return m_stack.find(window); }
    // The visible surfaces bottom to top, as the X11 kit stacks them.
    std::vector<QWidget*> stackingOrder();

private:
    SurfaceStack m_stack;
    bool m_compositing = true;
};

} // namespace corvessa
