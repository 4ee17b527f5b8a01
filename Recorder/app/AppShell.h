#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "settings/SettingsPane.h"

#include <memory>


namespace corvessa {

class CameraPreviewWindow;
class Confirm;
class EchoHintController;
class RangeDimOverlay;
class PowerOffNotice;
class RecorderModel;
class SignalBridge;
class Stealth;
class ToolbarHost;

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
    void buildBar();
    void updateEchoHint();
    void installHotKeys();
    void deferredStart();
    void setupCrashSafety();
    void onSignal(int signalNumber);
    void onPowerOff();
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
    std::unique_ptr<SignalBridge> m_signals;
    std::shared_ptr<PowerOffNotice> m_powerOff;
    bool m_crashSafetyReady = false;
    bool m_exiting = false;
};

} // namespace corvessa
