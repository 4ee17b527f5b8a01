#include "platform/widgets/SurfaceStack.h"

#include <algorithm>

namespace corvessa {

SurfaceStack::Entry& SurfaceStack::prepare(QWidget* window, const FloatingSurfaces::Options& options)
{
    std::erase_if(m_entries, [](const auto& e) { return !e->window; });

    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
    if (options.overrideRedirect)
        flags |= Qt::X11BypassWindowManagerHint;
    window->setWindowFlags(flags);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_TranslucentBackground);

    Entry* entry = find(window);
    if (!entry) {
        m_entries.push_back(std::make_unique<Entry>());
        entry = m_entries.back().get();
        entry->window = window;
    }
    entry->options = options;
    return *entry;
}

SurfaceStack::Entry* SurfaceStack::find(const QWidget* window)
{
    if (!window)
        return nullptr;
    const auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e->window == window; });
    return it == m_entries.end() ? nullptr : it->get();
}

void SurfaceStack::raise(const QWidget* window)
{
    if (Entry* e = find(window))
        e->raised = ++m_raises;
}

std::vector<SurfaceStack::Entry*> SurfaceStack::visibleOrder()
{
    std::vector<Entry*> order;
    for (const auto& e : m_entries) {
        if (e->window && e->window->isVisible())
            order.push_back(e.get());
    }
    std::stable_sort(order.begin(), order.end(), [](const Entry* a, const Entry* b) {
        if (a->options.level != b->options.level)
            return int(a->options.level) < int(b->options.level);
        return a->raised < b->raised;
    });
    return order;
}

void SurfaceStack::watchCompositing(QObject* context, std::function<void()> changed)
{
    if (context && changed)
        m_watchers.push_back({context, std::move(changed)});
}

void SurfaceStack::compositingChanged()
{
    std::erase_if(m_watchers, [](const Watcher& w) { return !w.context; });
    // A watcher may add watchers or drop its context: run over a copy.
    const std::vector<Watcher> watchers = m_watchers;
    for (const Watcher& w : watchers) {
        if (w.context)
            w.changed();
    }
}

} // namespace corvessa
