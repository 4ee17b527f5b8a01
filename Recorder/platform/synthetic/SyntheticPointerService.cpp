#include "platform/synthetic/SyntheticPointerService.h"

#include <algorithm>

namespace corvessa {

std::optional<PointerState> SyntheticPointerService::state()
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

std::optional<CursorImage> SyntheticPointerService::cursorImage()
{
    std::lock_guard lock(m_mutex);
    ++m_cursorQueries;
    return m_cursor;
}

std::optional<QRectF> SyntheticPointerService::windowFrame(uint32_t windowId)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_windows.find(windowId);
    if (it == m_windows.end())
        return std::nullopt;
    return it->second;
}

void SyntheticPointerService::setState(std::optional<PointerState> state)
{
    std::lock_guard lock(m_mutex);
    m_state = std::move(state);
}

void SyntheticPointerService::setLocation(const GlobalPoint& location)
{
    std::lock_guard lock(m_mutex);
    if (!m_state)
        m_state = PointerState{};
    m_state->location = location;
}

void SyntheticPointerService::setPrimaryDown(bool down)
{
    std::lock_guard lock(m_mutex);
    if (!m_state)
        m_state = PointerState{};
    m_state->primaryDown = down;
}

void SyntheticPointerService::setCursor(std::optional<CursorImage> cursor)
{
    std::lock_guard lock(m_mutex);
    if (cursor) {
        if (cursor->serial == 0)
            cursor->serial = m_nextSerial;
        m_nextSerial = std::max(m_nextSerial, cursor->serial) + 1;
    }
    m_cursor = std::move(cursor);
}

void SyntheticPointerService::setWindowFrame(uint32_t windowId, std::optional<QRectF> frame)
{
    std::lock_guard lock(m_mutex);
    if (frame)
        m_windows[windowId] = *frame;
    else
        m_windows.erase(windowId);
}

int SyntheticPointerService::cursorQueries() const
{
    std::lock_guard lock(m_mutex);
    return m_cursorQueries;
}

} // namespace corvessa
