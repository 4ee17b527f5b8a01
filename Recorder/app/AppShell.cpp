#include "app/AppShell.h"

#include "app/AppShortcuts.h"
#include "app/DesktopSession.h"
#include "app/DiscardConfirmation.h"
#include "app/DockActions.h"
#include "app/MainMenu.h"
#include "app/MenuBuilders.h"
#include "app/MenuRenderer.h"
#include "app/RecoveryAlert.h"
#include "app/SettingsResetNotice.h"
#include "app/SettingsWriteNotice.h"
#include "app/DockBadge.h"
#include "app/FloatingStatusMenu.h"
#include "app/SignalBridge.h"
#include "app/StatusItem.h"
#include "capture/AudioCapturePermission.h"
#include "capture/SystemAudioTap.h"
#include "engine/RecoveryJournal.h"
#include "model/EngineControl.h"
#include "model/RecorderModel.h"
#include "model/Stealth.h"
#include "platform/DialogPlacement.h"
#include "platform/Permissions.h"
#include "platform/PowerOffNotice.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/UserDefaults.h"
#include "prefs/Cues.h"
#include "prefs/widgets/FolderChooser.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/LinkActions.h"
#include "prefs/Loc.h"
#include "prefs/LocNotifier.h"
#include "prefs/Prefs.h"
#include "prefs/ProfileStore.h"
#include "settings/AboutPane.h"
#include "settings/SettingsWindow.h"
#include "platform/FileReveal.h"
#include "platform/LauncherBadge.h"
#include "platform/PlatformLoader.h"
#include "toolbar/Confirm.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/ToolActions.h"
#include "toolbar/BarDocking.h"
#include "toolbar/EchoHintController.h"
#include "toolbar/ToolbarHost.h"
#include "tools/CameraPreviewWindow.h"
#include "tools/DimTarget.h"
#include "tools/RangeDimOverlay.h"
#include "tools/PenPalettePanel.h"
#include "tools/ProgramTools.h"
#include "tools/ShortcutHintController.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMenu>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <cstdlib>

namespace corvessa {

namespace {

// The engine of a running program, for a program ended by exit() from inside
// a library: Qt does that when its connection to the X server breaks.
std::weak_ptr<EngineControl> g_engineAtExit;

void finishRecordingAtExit()
{
    const auto engine = g_engineAtExit.lock();
    if (!engine)
        return;
    g_engineAtExit.reset();
    RecorderLog::write(QStringLiteral("[exit] a library is ending the program: finishing the recording"));
    engine->stop();
}

} // namespace

AppShell::AppShell()
    : m_stealth(std::make_shared<Stealth>())
{
}

AppShell::~AppShell()
{
    // Made after the model, with a pointer to it: it goes first.
    SettingsWindow::end();
    g_engineAtExit.reset();
    HotKeyCenter::shared().handlers.clear();
    HotKeyCenter::shared().onEscape = nullptr;
    HotKeyCenter::shared().setMenuEscape({});
    m_toolbar->menu().onOpenChanged = nullptr;
    BarView::sizeChanged = nullptr;
    FloatingMenu::setShared(nullptr);
}

void AppShell::start()
{
    // Every dialog of ours is left out of recordings.
    const auto keepOutOfRecordings = [stealth = m_stealth](QWindow* window) { stealth->track(window); };
    DialogPlacement::setRegistrar(keepOutOfRecordings);
    m_confirm = std::make_shared<Confirm>(keepOutOfRecordings);

    RecorderModelDependencies deps = RecorderModelDependencies::platform();
    // A run that died while it muted the speakers left the sound on its private
    // sink: the speakers play again before anything is shown.
    SystemAudioTap::recoverAfterCrash(deps.audio);
    deps.stealth = m_stealth;
    auto tools = std::make_shared<ProgramTools>(&RecorderModelDependencies::otherWindows, deps.log, nullptr,
                                                FloatingKit(PlatformLoader::loadFloatingSurfaces(), keepOutOfRecordings));
    tools->setRecordingActive([stealth = m_stealth] { return stealth->active(); });
    deps.tools = tools;
    deps.confirm = m_confirm;
    deps.chooseFolder = [this] { return chooseFolder(); };
    deps.terminate = [this] {
        m_exiting = true;
        QCoreApplication::exit(0);
    };
    g_engineAtExit = deps.engine;
    // Qt ends the program with exit() when its X connection breaks. Finish
    // before that, while no static has been destroyed under the engine's
    // threads; the exit handler covers any other exit() from a library.
    PlatformLoader::onDisplayServerLost(&finishRecordingAtExit);
    static const bool registered = std::atexit(finishRecordingAtExit) == 0;
    (void)registered;
    m_model = std::make_unique<RecorderModel>(std::move(deps));
    // The teleprompter is shown and hidden from its own close button too.
    tools->teleprompter().onShownChanged = [model = m_model.get()](bool shown) { model->setPrompterShown(shown); };
    RecorderModelServices::setShared(m_model.get());
    ProfileStore::shared().applyDefaultAtLaunch();

    buildBar();
    connect(m_model.get(), &RecorderModel::changed, this, [this](RecorderModel::Field field) {
        if (field == RecorderModel::Field::phase) {
            if (m_model->phase().isLive())
                stallForTests();
            // Power-off and sleep wait while a recording runs and is saved.
            if (m_powerOff) {
                if (m_model->phase().isActive())
                    m_powerOff->inhibit();
                else
                    m_powerOff->release();
            }
        }
    });
    m_model->onCountdown = [this](bool starting) { m_toolbar->countdown(starting); };
    m_model->onHideBar = [this] {
        if (barVisible())
            toggleBar();
    };

    installHotKeys();
    buildMenus();
    setupStatusItem();
    m_toolbar->setVisible(true);
    m_preview->updatePreview();
    QTimer::singleShot(250, this, [this] { deferredStart(); });
}

ToolActions AppShell::toolActions()
{
    ToolActions actions = ToolActions::forModel(*m_model);
    // The magnifier's settings card; its mode segments go through the model.
    if (auto tools = std::dynamic_pointer_cast<ProgramTools>(m_model->dependencies().tools)) {
        actions.openMagnifierPanel = [tools, setMode = actions.setFocusMode](const QRect& anchor) {
            tools->openMagnifierPanel(anchor, setMode);
        };
    }
    return actions;
}

void AppShell::buildBar()
{
    const FloatingKit kit(PlatformLoader::loadFloatingSurfaces(),
                          [stealth = m_stealth](QWindow* window) { stealth->track(window); });
    ToolbarHost::Setup setup;
    setup.kit = kit;
    setup.clicks = PlatformLoader::loadOutsideClickMonitor();
    setup.bar.tools = toolActions();
    setup.bar.tools.openPenPalette = [](const QRect& anchor) { PenPalettePanel::shared().open(anchor); };
    setup.bar.showSettings = [this] { openSettings(); };
    setup.bar.reveal = [](const QStringList& paths, FileReveal::Done done) {
        FileReveal::current()->showItems(paths, std::move(done));
    };
    setup.bar.confirmDiscard = [this](bool restart) { confirmDiscard(restart); };
    m_toolbar = std::make_unique<ToolbarHost>(*m_model, Prefs::shared(), std::move(setup));
    FloatingMenu::setShared(&m_toolbar->menu());
    // Our menus never take the keyboard focus: Escape is a hot key while one is open.
    m_toolbar->menu().closeOnEscape(HotKeyCenter::shared());

    // The windows around the recording: the camera bubble above the bar, the
    // dimmed surroundings of the target and the echo warning card.
    CameraPreviewWindow::Setup preview;
    preview.kit = kit;
    preview.barRect = [this] { return std::optional<GlobalRect>(m_toolbar->docking().barRect()); };
    m_preview = std::make_unique<CameraPreviewWindow>(*m_model, Prefs::shared(), UserDefaults::standard(),
                                                      std::move(preview));
    m_dim = std::make_unique<RangeDimOverlay>(RangeDimOverlay::Setup{kit, {}, {}});
    m_echo = std::make_unique<EchoHintController>(m_toolbar->panel(),
                                                  EchoHintController::Setup{kit});
    m_hints = std::make_unique<ShortcutHintController>(
        m_toolbar->panel(), *m_model, Prefs::shared(),
        // A question or another dialog of ours (the folder chooser) is read
        // without the hints over it.
        ShortcutHintController::Setup{kit, [this] { return m_confirm->isShowing() || QApplication::activeModalWidget(); },
                                      [this] { return m_echo->card(); },
                                      [this] {
                                          // The bubble: over the whole screen, it hides the bar too.
                                          QWidget* bubble = m_preview->window();
                                          return bubble && !m_preview->isFullScreen() ? std::vector<QWidget*>{bubble}
                                                                                       : std::vector<QWidget*>{};
                                      }});
    m_toolbar->onModelSettled = [this] {
        updateEchoHint();
        m_dim->set(DimTarget::forModel(*m_model, barVisible()));
    };
    // A dialog comes with the focus and goes with it.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] { m_hints->refresh(); });
    auto* echoTimer = new QTimer(this);
    connect(echoTimer, &QTimer::timeout, this, [this] { updateEchoHint(); });
    echoTimer->start(1000);
    connect(&Prefs::shared(), &Prefs::changed, this, [this](Prefs::Key key) {
        if (key == Prefs::Key::compactRecordingBar)
            QTimer::singleShot(0, this, [this] { m_echo->position(); });
    });
}

void AppShell::openSettings(std::optional<SettingsPane> pane)
{
    SettingsWindow::show(pane);
}

void AppShell::updateEchoHint()
{
    m_echo->update(m_model->hints(), barVisible(), m_confirm->isShowing());
    m_hints->refresh();
}

bool AppShell::barVisible() const
{
    return m_toolbar && m_toolbar->isVisible();
}

void AppShell::setBarVisible(bool visible)
{
    if (visible == barVisible())
        return;
    m_toolbar->setVisible(visible);
    m_model->barVisibilityChanged(visible);
}

void AppShell::toggleBar()
{
    setBarVisible(!barVisible());
}

void AppShell::installHotKeys()
{
    HotKeyCenter& center = HotKeyCenter::shared();
    RecorderModel& m = *m_model;
    std::map<HotKeyAction, std::function<void()>> handlers;
    handlers[HotKeyAction::start] = [&m] {
        // After a saved or failed recording the start key begins the next one.
        if (!m.phase().isIdle())
            return;
        if (!m.phase().is(RecorderPhase::Kind::ready))
            m.backToReady();
        m.record();
    };
    handlers[HotKeyAction::pause] = [&m] { m.togglePause(); };
    handlers[HotKeyAction::stop] = [&m] { m.requestStop(); };
    handlers[HotKeyAction::muteMic] = [&m] {
        m.setMicMuted(!m.micMuted());
        m.gainChanged();
    };
    handlers[HotKeyAction::toggleBar] = [this] { toggleBar(); };
    handlers[HotKeyAction::restart] = [this] { confirmDiscard(true); };
    handlers[HotKeyAction::cancel] = [this] { confirmDiscard(false); };
    handlers[HotKeyAction::cameraFullScreen] = [&m] { m.toggleCameraFullScreen(); };
    handlers[HotKeyAction::focus] = [&m] { m.toggleFocus(); };
    handlers[HotKeyAction::zoomIn] = [&m] { m.zoomFocus(1); };
    handlers[HotKeyAction::zoomOut] = [&m] { m.zoomFocus(-1); };
    handlers[HotKeyAction::focusMode] = [&m] { m.setFocusMode(Prefs::shared().focusMode() == 1 ? 0 : 1); };
    handlers[HotKeyAction::focusReselect] = [&m] {
        if (Prefs::shared().focusMode() == 1)
            m.beginRegionPick();
    };
    handlers[HotKeyAction::pen] = [&m] { m.setPen(!m.penOn()); };
    handlers[HotKeyAction::prompter] = [&m] { m.togglePrompter(); };
    center.handlers = std::move(handlers);
    center.onEscape = [&m] { m.escapePressed(); };
    center.registerAtLaunch(Prefs::shared());
}

void AppShell::setupStatusItem()
{
    StatusItem::Setup setup;
    setup.clock = m_model->dependencies().scheduler;
    setup.floatingRows = [this] {
        FloatingStatusMenu::Actions actions;
        actions.tools = toolActions();
        actions.barVisible = [this] { return barVisible(); };
        actions.toggleBar = [this] { toggleBar(); };
        actions.showSettings = [this] { m_menus->context().showSettings(QString()); };
        return FloatingStatusMenu::rows(*m_model, actions);
    };
    setup.fillStatusMenu = [menus = m_menus](QMenu& menu) { MenuRenderer::render(&menu, menus->statusMenu()); };
    setup.registerWindow = [stealth = m_stealth](QWindow* window) { stealth->track(window); };
    m_statusItem = std::make_unique<StatusItem>(std::move(setup));
    m_statusItem->show();
    m_statusItem->configure(m_model->phase());
    // The dock keeps a label that a program ended by a crash left behind.
    LauncherBadge::current()->clear();
    DockBadge::apply(*LauncherBadge::current(), m_model->phase());
    // Glyph, click mode and launcher badge follow the phase; the tool tip the language.
    connect(m_model.get(), &RecorderModel::changed, this, [this](RecorderModel::Field field) {
        if (field != RecorderModel::Field::phase)
            return;
        m_statusItem->configure(m_model->phase());
        DockBadge::apply(*LauncherBadge::current(), m_model->phase());
    });
    connect(&LocNotifier::instance(), &LocNotifier::languageChanged, this,
            [this] { m_statusItem->configure(m_model->phase()); });
}

void AppShell::confirmDiscard(bool restart)
{
    DiscardConfirmation::ask(*m_model, restart);
}

void AppShell::buildMenus()
{
    m_links = std::make_shared<LinkActions>();
    MenuContext context;
    context.model = m_model.get();
    context.prefs = &Prefs::shared();
    context.tools = toolActions();
    context.links = m_links;
    context.barVisible = [this] { return barVisible(); };
    context.toggleBar = [this] { toggleBar(); };
    // "About Corvessa" always shows the about page and "Guide" the guide, on a
    // pane already open as on one built later.
    context.showSettings = [this](const QString& pane) {
        const auto shown = SettingsPanes::fromRawValue(pane);
        if (shown == SettingsPane::about)
            AboutPane::show(AboutPane::Page::about);
        openSettings(shown);
    };
    context.showGuide = [this] {
        AboutPane::show(AboutPane::Page::usage);
        openSettings(SettingsPane::about);
    };
    context.quit = [this] { m_model->requestQuit(); };
    context.confirmDiscard = [this](bool restart) { confirmDiscard(restart); };
    m_menus = std::make_shared<MenuBuilders>(std::move(context));
    m_dock = std::make_unique<DockActions>(m_menus, &RecorderLog::write);
    const auto showSettings = [menus = m_menus] { menus->context().showSettings(QString()); };
    m_shortcuts = std::make_unique<AppShortcuts>(showSettings, [this] { m_model->requestQuit(); });
    const auto keepOutOfRecordings = [stealth = m_stealth](QWindow* window) { stealth->track(window); };
    SettingsWindow::configure({m_model.get(), &HotKeyCenter::shared(), &ProfileStore::shared(), keepOutOfRecordings,
                               [menus = m_menus](QMainWindow* window) { MainMenu::install(window, menus); },
                               {}});
}

void AppShell::deferredStart()
{
    // The bar is announced: idle meters and the camera follow it.
    m_model->barVisibilityChanged(barVisible());
    if (Prefs::shared().soundLaunch())
        Cues::play(Cues::Kind::launch);
    setupCrashSafety();
    tellAboutTheSession();
    const auto permissions = Permissions::current();
    const bool screen = permissions->granted(Permissions::Kind::screen);
    if (!screen && !UserDefaults::standard().boolValue(QStringLiteral("screenPrompted")).value_or(false))
        m_model->perm().requestScreen();
    AudioCapturePermission::verifyIfPossible(screen, [model = QPointer<RecorderModel>(m_model.get())](bool) {
        if (model)
            model->refreshPermissions();
    }, &Loc::text, m_model->dependencies().audio);
}

void AppShell::tellAboutTheSession()
{
    SettingsResetNotice::showIfPending(UserDefaults::standard());
    // Settings that cannot be written: said now when already known, else at
    // the first change that fails.
    new SettingsWriteNotice(UserDefaults::standard(), this);
    if (DesktopSession::isWayland()) {
        RecorderLog::write(QStringLiteral("[app] Wayland session: the interface runs on the %1 platform; "
                                          "recordings show only X11 windows")
                               .arg(QGuiApplication::platformName()));
        // Stays until the user closes it: it holds for every recording.
        m_model->tell(DesktopSession::waylandNotice());
    }
}

void AppShell::setupCrashSafety()
{
    if (m_crashSafetyReady)
        return;
    m_crashSafetyReady = true;
    QTimer::singleShot(1200, this, [] {
        // Only recordings in the recordings folder are examined: the folder the
        // program saves into, as it resolves it.
        RecoveryJournal::checkAtLaunch(Prefs::shared().saveFolder(), &RecoveryAlert::run);
    });
    m_powerOff = PowerOffNotice::current();
    m_powerOff->setOnPowerOff([this] { onPowerOff(); });
    if (m_model->phase().isActive())
        m_powerOff->inhibit();
    // When the main thread is held up, the signal's watcher finishes the movie
    // itself: the engine runs on queues of its own.
    m_signals = std::make_unique<SignalBridge>([engine = std::weak_ptr<EngineControl>(m_model->dependencies().engine)] {
        if (const auto e = engine.lock())
            e->stop();
    });
    connect(m_signals.get(), &SignalBridge::received, this, &AppShell::onSignal);
    RecorderLog::write(QStringLiteral("[exit] SIGTERM and SIGHUP now save a recording before the program ends"));
}

void AppShell::onSignal(int)
{
    // An open dialog (the folder chooser of a start, a question) runs an event
    // loop of its own that would keep the program, and a start waiting on it,
    // alive: it is answered "cancel". While recording, the save itself closes
    // the stop question.
    const auto closeDialogs = [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
                dialog->reject();
        }
    };
    if (!m_model->phase().isLive())
        closeDialogs();
    // Save first, then leave the event loop; main returns with status 0.
    m_model->saveAndExit([this, closeDialogs] {
        m_exiting = true;
        closeDialogs();
        QCoreApplication::exit(0);
    });
}

void AppShell::stallForTests()
{
    // Tests of a program whose main thread is held up (as by a huge paste)
    // set CORVESSA_TEST_STALL_MS: a second into the first recording, the main
    // thread sleeps that long.
    static bool stalled = false;
    const int ms = qEnvironmentVariableIntValue("CORVESSA_TEST_STALL_MS");
    if (stalled || ms <= 0)
        return;
    stalled = true;
    QTimer::singleShot(1000, this, [ms] {
        RecorderLog::write(QStringLiteral("[test] the main thread stalls for %1 ms").arg(ms));
        QThread::msleep(ulong(ms));
    });
}

void AppShell::onPowerOff()
{
    // Power-off or sleep: the ordinary stop, so that after a sleep the program
    // shows the saved movie. The inhibitor goes once the phase is idle again.
    if (m_model->phase().isLive()) {
        RecorderLog::write(QStringLiteral("[power] the system is about to sleep or power off: saving the recording"));
        m_model->stop();
    } else if (!m_model->phase().isActive()) {
        m_powerOff->release();
    }
}

void AppShell::handleMessage(const QString& message)
{
    if (message == QLatin1String("reopen")) {
        RecorderLog::write(QStringLiteral("[app] reopen requested by another launch"));
        if (!barVisible())
            setBarVisible(true);
        m_toolbar->raise();
        return;
    }
    if (message.startsWith(QLatin1String("action:"))) {
        // The launcher's actions, as the Dock menu would run them.
        m_dock->run(message.mid(7));
        return;
    }
    RecorderLog::write(QStringLiteral("[app] unknown request from another launch: ") + message.left(200));
}

std::optional<QString> AppShell::chooseFolder()
{
    return FolderChooser::ask(nullptr, Prefs::shared());
}

} // namespace corvessa
