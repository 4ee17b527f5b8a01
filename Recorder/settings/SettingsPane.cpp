#include "settings/SettingsPane.h"

#include "prefs/Loc.h"

namespace corvessa {

namespace {

struct PaneInfo {
    const char* raw;
    const char* title;
    const char* icon;
};

constexpr std::array<PaneInfo, 10> kPanes{{
    {"general", Loc::mark("General"), "gearshape"},
    {"recording", Loc::mark("Recording"), "record.circle"},
    {"audio", Loc::mark("Audio"), "waveform"},
    {"cursor", Loc::mark("Cursor"), "cursorarrow.rays"},
    {"focus", Loc::mark("Magnifier"), "plus.magnifyingglass"},
    {"pen", Loc::mark("Pen"), "pencil.tip"},
    {"camera", Loc::mark("Camera"), "video"},
    {"permissions", Loc::mark("Permissions"), "lock.shield"},
    {"shortcuts", Loc::mark("Shortcuts"), "command.circle"},
    {"about", Loc::mark("About"), "info.circle"},
}};

} // namespace

QString SettingsPanes::rawValue(SettingsPane pane)
{
    return QString::fromLatin1(kPanes[index(pane)].raw);
}

std::optional<SettingsPane> SettingsPanes::fromRawValue(const QString& raw)
{
    for (SettingsPane pane : allCases) {
        if (raw == QLatin1String(kPanes[index(pane)].raw))
            return pane;
    }
    return std::nullopt;
}

const char* SettingsPanes::englishTitle(SettingsPane pane)
{
    return kPanes[index(pane)].title;
}

QString SettingsPanes::title(SettingsPane pane)
{
    return Loc::text(QString::fromUtf8(englishTitle(pane)));
}

QString SettingsPanes::icon(SettingsPane pane)
{
    return QString::fromLatin1(kPanes[index(pane)].icon);
}

bool SettingsPanes::locksWhileRecording(SettingsPane pane)
{
    return pane == SettingsPane::recording || pane == SettingsPane::cursor || pane == SettingsPane::camera;
}

} // namespace corvessa
