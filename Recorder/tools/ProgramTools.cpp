#include "tools/ProgramTools.h"

#include "platform/PlatformLoader.h"
#include "platform/ScreenSource.h"
#include "tools/TargetPicker.h"

#include <unistd.h>

#include <utility>

namespace corvessa {

ProgramTools::ProgramTools(std::function<std::vector<WindowInfo>()> windows,
                           std::function<void(const QString&)> log, std::function<bool()> compositingActive,
                           std::shared_ptr<FloatingSurfaces> surfaces, std::function<void(QWindow*)> registerWindow)
    : m_windows(std::move(windows))
    , m_surfaces(std::move(surfaces))
    , m_registerWindow(std::move(registerWindow))
    , m_standIn({}, std::move(log))
    , m_countdown(std::move(compositingActive))
{
    if (!m_windows) {
        m_windows = [] {
            const auto content = ScreenSource::current()->content();
            return content ? content->windows : std::vector<WindowInfo>{};
        };
    }
    Teleprompter::Setup prompter;
    prompter.surfaces = [this] {
        if (!m_surfaces)
            m_surfaces = PlatformLoader::loadFloatingSurfaces();
        return m_surfaces;
    };
    prompter.registerWindow = m_registerWindow;
    prompter.recordingActive = [this] { return m_recordingActive && m_recordingActive(); };
    m_teleprompter = std::make_unique<Teleprompter>(std::move(prompter));
}

ProgramTools::~ProgramTools() = default;

std::vector<WindowInfo> ProgramTools::windowList()
{
    return TargetPicker::pickable(m_windows(), ::getpid());
}

void ProgramTools::pickRange(RangeMode mode, PickCompletion completion)
{
    if (mode == RangeMode::display) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    if (!m_picker) {
        if (!m_surfaces)
            m_surfaces = PlatformLoader::loadFloatingSurfaces();
        m_picker = std::make_unique<TargetPicker>(m_surfaces, m_registerWindow, [this] { return windowList(); });
    }
    m_picker->pick(mode, std::move(completion));
}

} // namespace corvessa
