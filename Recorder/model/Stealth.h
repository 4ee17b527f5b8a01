#pragma once

#include <QList>
#include <QPointer>
#include <QWindow>

#include <cstdint>
#include <vector>

namespace corvessa {

// Keeps the program's own windows out of recordings. A registered window
// (toolbar, dialogs, tips, hints, teleprompter, settings, camera preview) is
// never captured while a recording is under way and may be captured otherwise;
// every other window of ours is never captured. The recording engine asks for
// excludedWindowIds() whenever it (re)builds its capture stream. Main thread.
class Stealth {
public:
    enum class Sharing { none, readOnly };

    // The dynamic property that carries a window's sharing type.
    static constexpr const char* sharingProperty = "corvessa.sharing";

    // Whether a recording is under way; set by the recorder model's phase.
    bool active() const { return m_active; }
    void setActive(bool active);

    // Adds a window and gives it the sharing type of the moment. A window leaves
    // the table by itself when it is destroyed.
    void track(QWindow* window);
    // Re-applies the rule to every tracked window.
    void refresh();

    static Sharing sharing(const QWindow* window);
    // The X window ids of our top-level windows that must not be captured now.
    std::vector<uint32_t> excludedWindowIds() const;

private:
    void apply(QWindow* window) const;

    QList<QPointer<QWindow>> m_tracked;
    bool m_active = false;
};

} // namespace corvessa
