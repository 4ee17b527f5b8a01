#include "prefs/HotKeyCenter.h"

#include "platform/core/RecorderLog.h"
#include "platform/GlobalHotKeys.h"
#include "platform/core/KeyCodeMap.h"
#include "platform/core/MainQueue.h"
#include "prefs/Prefs.h"

namespace corvessa {

HotKeyCenter& HotKeyCenter::shared()
{
    // Lives for the whole run: the hot keys are released with the process.
    static HotKeyCenter* center = new HotKeyCenter(GlobalHotKeys::current());
    return *center;
}

HotKeyCenter::HotKeyCenter(std::shared_ptr<GlobalHotKeys> service)
    : m_service(std::move(service))
    , m_self(std::make_shared<HotKeyCenter*>(this))
{
    m_service->setPressHandler([self = std::weak_ptr<HotKeyCenter*>(m_self)](int id) {
        // Never inside the platform's callback: the action may register again.
        MainQueue::async([self, id] {
            if (const auto center = self.lock())
                (*center)->dispatch(id);
        });
    });
}

HotKeyCenter::~HotKeyCenter()
{
    m_service->setPressHandler(nullptr);
    releaseBindings();
    releaseEscape();
}

std::vector<HotKeyAction> HotKeyCenter::apply(const KeyBindingMap& bindings)
{
    m_bindings = bindings;
    releaseBindings();
    registerBindings();
    if (m_paused)
        releaseBindings();
    return m_failures;
}

void HotKeyCenter::registerBindings()
{
    m_failures.clear();
    for (HotKeyAction action : HotKeyActions::allCases()) {
        auto it = m_bindings.find(action);
        if (it == m_bindings.end())
            continue;
        const GlobalHotKeys::Status status =
            m_service->registerKey(HotKeyActions::index(action), it->second.keyCode, it->second.modifiers);
        if (status == GlobalHotKeys::Status::registered)
            m_refs.insert(action);
        else
            m_failures.push_back(action);
    }
}

void HotKeyCenter::releaseBindings()
{
    for (HotKeyAction action : m_refs)
        m_service->unregisterKey(HotKeyActions::index(action));
    m_refs.clear();
}

void HotKeyCenter::setEscape(bool on)
{
    m_escapeWanted = on;
    updateEscape();
}

void HotKeyCenter::setMenuEscape(std::function<void()> close)
{
    m_menuClose = std::move(close);
    updateEscape();
}

void HotKeyCenter::updateEscape()
{
    if (m_paused)
        return;
    if (m_escapeWanted || m_menuClose)
        registerEscape();
    else
        releaseEscape();
}

void HotKeyCenter::registerEscape()
{
    if (m_escapeRegistered)
        return;
    const GlobalHotKeys::Status status = m_service->registerKey(escapeIdentifier, KeyCodeMap::escapeKeyCode, 0);
    if (status == GlobalHotKeys::Status::registered)
        m_escapeRegistered = true;
    else
        RecorderLog::write(QStringLiteral("[hotkeys] Esc could not be registered"));
}

void HotKeyCenter::releaseEscape()
{
    if (!m_escapeRegistered)
        return;
    m_service->unregisterKey(escapeIdentifier);
    m_escapeRegistered = false;
}

void HotKeyCenter::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (paused) {
        releaseBindings();
        releaseEscape();
        return;
    }
    registerBindings();
    if (!m_failures.empty()) {
        // Another program took a key while ours were given up.
        RecorderLog::write(QStringLiteral("[hotkeys] not registered again after shortcut capture: ")
                           + titles(m_failures).join(QStringLiteral("、")));
    }
    updateEscape();
}

void HotKeyCenter::dispatch(int id)
{
    if (id == escapeIdentifier) {
        // A copy: the action may replace onEscape while it runs.
        if (const std::function<void()> close = m_menuClose) {
            close();
            return;
        }
        if (const std::function<void()> action = onEscape)
            action();
        return;
    }
    const std::optional<HotKeyAction> action = HotKeyActions::fromIndex(id);
    if (!action)
        return;
    auto it = handlers.find(*action);
    if (it == handlers.end() || !it->second)
        return;
    const std::function<void()> handler = it->second;
    handler();
}

std::vector<HotKeyAction> HotKeyCenter::registerAtLaunch(Prefs& prefs)
{
    const KeyBindingMap& bindings = prefs.bindings();
    const std::vector<HotKeyAction> failed = apply(bindings);
    RecorderLog::write(launchLogLine(bindings.size(), failed));
    if (!failed.empty())
        prefs.setHotkeyMessage([failed] { return Prefs::shortcutsTakenMessage(titles(failed)); });
    return failed;
}

QString HotKeyCenter::launchLogLine(std::size_t bindingCount, const std::vector<HotKeyAction>& failures)
{
    QString line = QStringLiteral("[hotkeys] registered %1, failed %2").arg(bindingCount).arg(failures.size());
    if (!failures.empty())
        line += QStringLiteral("：") + titles(failures).join(QStringLiteral("、"));
    return line;
}

QStringList HotKeyCenter::titles(const std::vector<HotKeyAction>& actions)
{
    QStringList out;
    for (HotKeyAction action : actions)
        out << HotKeyActions::title(action);
    return out;
}

} // namespace corvessa
