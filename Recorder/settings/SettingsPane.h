#pragma once

#include <QString>

#include <array>
#include <optional>

namespace corvessa {

// The ten panes of the settings window; their order is the tab order.
enum class SettingsPane { general, recording, audio, cursor, focus, pen, camera, permissions, shortcuts, about };

// Names, titles and icons of the panes. Stateless; main thread (titles follow
// the interface language).
class SettingsPanes {
public:
    SettingsPanes() = delete;

    static constexpr std::array<SettingsPane, 10> allCases{
        SettingsPane::general, SettingsPane::recording, SettingsPane::audio,       SettingsPane::cursor,
        SettingsPane::focus,   SettingsPane::pen,       SettingsPane::camera,      SettingsPane::permissions,
        SettingsPane::shortcuts, SettingsPane::about};

    // Position in the tab order.
    static int index(SettingsPane pane) { return int(pane); }
    // "general", "recording", …
    static QString rawValue(SettingsPane pane);
    // None for any other text.
    static std::optional<SettingsPane> fromRawValue(const QString& raw);
    // The English title; title() is its translation.
    static const char* englishTitle(SettingsPane pane);
    static QString title(SettingsPane pane);
    // The symbol drawn on the tab.
    static QString icon(SettingsPane pane);
    // Panes whose settings cannot change while a recording runs.
    static bool locksWhileRecording(SettingsPane pane);
};

} // namespace corvessa
