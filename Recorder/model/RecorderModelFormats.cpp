// The recorder model's target: the range, the display and the picks, and the
// capture formats (CaptureFormats) they lead to.
#include "model/RecorderModel.h"

#include "platform/DisplayList.h"
#include "platform/core/ScreenCoordinates.h"
#include "platform/core/UserDefaults.h"

#include <algorithm>
#include <limits>

namespace corvessa {

// ---- Target ----

void RecorderModel::readTargetState()
{
    const UserDefaults& d = *m_deps.defaults;
    m_rangeMode = rangeModeFromName(d.string(QStringLiteral("rangeMode")).value_or(QString())).value_or(RangeMode::display);
    // Display numbers are 32-bit; anything else stored there means no choice.
    const qint64 display = d.integer(QStringLiteral("displayID")).value_or(0);
    m_displayID = display >= 0 && display <= qint64(std::numeric_limits<uint32_t>::max()) ? uint32_t(display) : 0;
}

std::optional<DisplayInfo> RecorderModel::displayWithID(uint32_t id) const
{
    return m_deps.displays->display(id);
}

std::vector<RecorderModel::ScreenInfo> RecorderModel::screens() const
{
    std::vector<ScreenInfo> list;
    for (const DisplayInfo& d : m_deps.displays->displays())
        list.push_back({d.id, d.label.isEmpty() ? d.name : d.label});
    return list;
}

uint32_t RecorderModel::effectiveDisplayID() const
{
    const auto displays = m_deps.displays->displays();
    if (std::any_of(displays.begin(), displays.end(), [&](const DisplayInfo& d) { return d.id == m_displayID; }))
        return m_displayID;
    const auto primary = m_deps.displays->primary();
    return primary ? primary->id : 0;
}

bool RecorderModel::rangeReady() const
{
    switch (m_rangeMode) {
    case RangeMode::display:
        return true;
    case RangeMode::window:
        return m_windowPick.has_value();
    case RangeMode::area:
        return m_areaPick.has_value();
    }
    return false;
}

RecordingTarget RecorderModel::currentTarget() const
{
    switch (m_rangeMode) {
    case RangeMode::window:
        return RecordingTarget::window(m_windowPick ? m_windowPick->id : 0);
    case RangeMode::area:
        return m_areaPick ? RecordingTarget::area(m_areaPick->display, m_areaPick->rect)
                          : RecordingTarget::display(effectiveDisplayID());
    case RangeMode::display:
        break;
    }
    return RecordingTarget::display(effectiveDisplayID());
}

void RecorderModel::selectDisplay(uint32_t id)
{
    if (!m_phase.isIdle())
        return;
    publish(m_displayID, id, Field::displayID);
    m_deps.defaults->setInteger(QStringLiteral("displayID"), qint64(id));
    publish(m_rangeMode, RangeMode::display, Field::rangeMode);
    m_deps.defaults->setString(QStringLiteral("rangeMode"), rangeModeName(RangeMode::display));
    refreshScreenCapabilities(true);
}

void RecorderModel::forgetWindowPick()
{
    publish(m_windowPick, std::optional<WindowPick>(), Field::windowPick);
}

GlobalRect RecorderModel::globalFrame(const WindowInfo& window) const
{
    const auto primary = m_deps.displays->primary();
    // Window frames count y down from the primary display's top.
    const double height = primary ? primary->frame.height() : 0;
    return GlobalRect(window.frame.x(), height - window.frame.bottom(), window.frame.width(), window.frame.height());
}

std::optional<DisplayInfo> RecorderModel::displayAt(const GlobalPoint& point) const
{
    for (const DisplayInfo& d : m_deps.displays->displays()) {
        if (d.frame.contains(point))
            return d;
    }
    return std::nullopt;
}

std::optional<WindowInfo> RecorderModel::listedWindow(uint32_t id) const
{
    for (const WindowInfo& w : m_deps.tools->windowList()) {
        if (w.id == id)
            return w;
    }
    return std::nullopt;
}

std::optional<DisplayInfo> RecorderModel::countdownScreen() const
{
    std::optional<DisplayInfo> screen;
    if (m_rangeMode == RangeMode::window && m_windowPick) {
        if (const auto window = listedWindow(m_windowPick->id))
            screen = displayAt(globalFrame(*window).center());
    } else {
        const RecordingTarget target = currentTarget();
        screen = displayWithID(target.displayID);
    }
    return screen ? screen : m_deps.displays->primary();
}

void RecorderModel::chooseRange(RangeMode mode)
{
    if (!m_phase.isIdle())
        return;
    publish(m_rangeMode, mode, Field::rangeMode);
    m_deps.defaults->setString(QStringLiteral("rangeMode"), rangeModeName(mode));
    if (mode != RangeMode::display) {
        m_deps.tools->pickRange(mode, [self = std::weak_ptr<RecorderModel*>(m_self), mode](
                                          std::optional<ToolsFacade::Selection> selection) {
            const auto alive = self.lock();
            if (!alive || !selection)
                return;
            RecorderModel& model = **alive;
            if (!model.m_phase.isIdle())
                return;
            const bool isWindow = selection->kind == ToolsFacade::Selection::Kind::window;
            if (mode == RangeMode::window && isWindow) {
                model.publish(model.m_windowPick,
                              std::optional<WindowPick>(WindowPick{selection->id, selection->title, selection->size}),
                              Field::windowPick);
            } else if (mode == RangeMode::area && !isWindow) {
                model.publish(model.m_areaPick,
                              std::optional<AreaPick>(AreaPick{selection->display, selection->rect}),
                              Field::areaPick);
            } else {
                return;
            }
            model.refreshScreenCapabilities(true);
        });
    }
    refreshScreenCapabilities(true);
}

} // namespace corvessa
