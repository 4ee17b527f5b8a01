#pragma once

#include "platform/PointerService.h"

#include <map>
#include <mutex>

namespace corvessa {

// A pointer that is wherever it was put. Thread-safe.
class SyntheticPointerService : public PointerService {
public:
    SyntheticPointerService() = default;

    std::optional<PointerState> state() override;
    std::optional<CursorImage> cursorImage() override;
    std::optional<QRectF> windowFrame(uint32_t windowId) override;

    void setState(std::optional<PointerState> state);
    void setLocation(const GlobalPoint& location);
    void setPrimaryDown(bool down);
    // Shows a cursor; a serial of 0 is replaced by the next free one, as a server
    // gives every new cursor its own.
    void setCursor(std::optional<CursorImage> cursor);
    void setWindowFrame(uint32_t windowId, std::optional<QRectF> frame);

    // How often cursorImage() was asked, for tests of polling rates.
    int cursorQueries() const;

private:
    mutable std::mutex m_mutex;
    std::optional<PointerState> m_state = PointerState{};
    std::optional<CursorImage> m_cursor;
    std::map<uint32_t, QRectF> m_windows;
    uint64_t m_nextSerial = 1;
    int m_cursorQueries = 0;
};

} // namespace corvessa
