#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "settings/SettingsPane.h"

#include <functional>
#include <memory>

class QMenu;


namespace corvessa {

class AppShortcuts;
class CameraPreviewWindow;
class DockActions;
class LinkActions;
class MenuBuilders;
class Confirm;
class EchoHintController;
class RangeDimOverlay;
class PowerOffNotice;
class RecorderModel;
class ShortcutHintController;
class SignalBridge;
class StatusItem;
class Stealth;
class ToolbarHost;
struct ToolActions;

// The program's spine: creates the recorder model with the program's own
// services, hosts the bar, routes the global hot keys, and sees that no
// recording is lost when the program is asked to end (a quit, SIGTERM, SIGHUP,
// SIGINT, a power-off or sleep). Main thread.
class AppShell : public QObject {
    Q_OBJECT
public:
    AppShell();
    ~AppShell() override;

    // The start-up sequence; the crash safety and the permission checks follow
    // 0.25 s later.
    void start();
    // A later launch asked this one to show itself ("reopen"), or to run an
    // action ("action:<id>").
    void handleMessage(const QString& message);

    RecorderModel& model() { return *m_model; }
    // Whether the bar is on screen.
    bool barVisible() const;
    void setBarVisible(bool visible);
    void toggleBar();
    // Shows the settings window (on `pane`, else on the tab it had).
    void openSettings(std::optional<SettingsPane> pane = std::nullopt);


private:
    void buildMenus();
    // The tool operations the bar and the menus call.
    ToolActions toolActions();
    void buildBar();
    void updateEchoHint();
    void installHotKeys();
    void setupStatusItem();
    void deferredStart();
    void setupCrashSafety();
    // What the user must hear once at start: settings that were reset, a Wayland session.
    void tellAboutTheSession();
    void onSignal(int signalNumber);
    void onPowerOff();
    void stallForTests();
    // Asks `title` with the recording paused; on OK the recording is discarded.
    void confirmDiscard(bool restart);
    std::optional<QString> chooseFolder();

    std::shared_ptr<Stealth> m_stealth;
    std::shared_ptr<Confirm> m_confirm;
    std::unique_ptr<RecorderModel> m_model;
    std::unique_ptr<ToolbarHost> m_toolbar;
    // Declared after the bar: they are destroyed first (the card follows the bar's panel).
    std::unique_ptr<CameraPreviewWindow> m_preview;
    std::unique_ptr<RangeDimOverlay> m_dim;
    std::unique_ptr<EchoHintController> m_echo;
    // After the echo card, which it stacks on: destroyed before it.
    std::unique_ptr<ShortcutHintController> m_hints;
    // Before the bar goes: its clicks reach the bar's floating menu.
    std::unique_ptr<StatusItem> m_statusItem;
    std::unique_ptr<SignalBridge> m_signals;
    std::shared_ptr<PowerOffNotice> m_powerOff;
    std::shared_ptr<LinkActions> m_links;
    std::shared_ptr<MenuBuilders> m_menus;
    std::unique_ptr<DockActions> m_dock;
    std::unique_ptr<AppShortcuts> m_shortcuts;
    bool m_crashSafetyReady = false;
    bool m_exiting = false;
};

} // namespace corvessa
