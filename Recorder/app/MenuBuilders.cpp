#include "app/MenuBuilders.h"

#include "app/WindowCommands.h"
#include "engine/compositor/CursorArt.h"
#include "model/RecorderModel.h"
#include "prefs/KeyBinding.h"
#include "prefs/LinkActions.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <utility>

namespace corvessa {

namespace {

QString tr(const char* english)
{
    return Loc::text(QString::fromUtf8(english));
}

} // namespace

MenuBuilders::MenuBuilders(MenuContext context)
    : m_context(std::move(context))
{
}

bool MenuBuilders::busy() const
{
    return m_context.model->phase().isActive();
}

bool MenuBuilders::running() const
{
    return m_context.model->phase().isLive();
}

QString MenuBuilders::keyFor(HotKeyAction action) const
{
    return KeyBinding::keyEquivalent(m_context.prefs->bindings(), action);
}

void MenuBuilders::showBar(const MenuContext& c)
{
    if (!c.isBarVisible() && c.toggleBar)
        c.toggleBar();
}

MenuNodes MenuBuilders::recordingItems(bool withRange) const
{
    RecorderModel* m = m_context.model;
    MenuNodes items;
    if (running()) {
        const bool paused = m->phase().is(RecorderPhase::Kind::paused);
        items.push_back(MenuNode::command(paused ? Loc::text(QStringLiteral("Continue Recording")) : Loc::text(QStringLiteral("Pause Recording")),
                                          QStringLiteral("pause"), [m] { m->togglePause(); })
                            .key(keyFor(HotKeyAction::pause)));
        items.push_back(MenuNode::command(Loc::text(QStringLiteral("Stop Recording")), QStringLiteral("stop"), [m] { m->requestStop(); })
                            .key(keyFor(HotKeyAction::stop)));
        for (const bool restart : {true, false}) {
            // The question itself checks, when chosen, that there is still a
            // recording to discard and no other question up.
            auto confirm = [discard = m_context.confirmDiscard, restart] {
                if (discard)
                    discard(restart);
            };
            items.push_back(MenuNode::command(restart ? Loc::text(QStringLiteral("Restart Recording…")) : Loc::text(QStringLiteral("Cancel Recording…")),
                                              restart ? QStringLiteral("restart") : QStringLiteral("cancel"),
                                              std::move(confirm))
                                .key(keyFor(restart ? HotKeyAction::restart : HotKeyAction::cancel)));
        }
        return items;
    }
    const bool idle = !busy();
    items.push_back(MenuNode::command(Loc::text(QStringLiteral("Start Recording…")), QStringLiteral("start"),
                                      [c = m_context, m] {
                                          showBar(c);
                                          if (m->phase().is(RecorderPhase::Kind::ready))
                                              m->record();
                                      })
                        .enable(idle)
                        .key(keyFor(HotKeyAction::start)));
    if (!withRange)
        return items;
    items.push_back(MenuNode::divider());
    const struct {
        const char* title;
        const char* id;
        RangeMode mode;
    } ranges[] = {{Loc::mark("Record Display"), "recordDisplay", RangeMode::display},
                  {Loc::mark("Record Window"), "recordWindow", RangeMode::window},
                  {Loc::mark("Record Area"), "recordArea", RangeMode::area}};
    for (const auto& r : ranges) {
        const RangeMode mode = r.mode;
        items.push_back(MenuNode::command(tr(r.title), QString::fromLatin1(r.id),
                                          [c = m_context, m, mode] {
                                              showBar(c);
                                              if (m->phase().is(RecorderPhase::Kind::ready))
                                                  m->chooseRange(mode);
                                          })
                            .check(m->rangeMode() == mode)
                            .enable(idle));
    }
    return items;
}

MenuNodes MenuBuilders::magnifierItems() const
{
    const ToolActions& tools = m_context.tools;
    Prefs* prefs = m_context.prefs;
    MenuNodes items;
    items.push_back(MenuNode::command(Loc::text(QStringLiteral("Zoom In")), QStringLiteral("zoomIn"), [tools] {
                        if (tools.zoomFocus)
                            tools.zoomFocus(1);
                    }).key(keyFor(HotKeyAction::zoomIn)));
    items.push_back(MenuNode::command(Loc::text(QStringLiteral("Zoom Out")), QStringLiteral("zoomOut"), [tools] {
                        if (tools.zoomFocus)
                            tools.zoomFocus(-1);
                    }).key(keyFor(HotKeyAction::zoomOut)));
    items.push_back(MenuNode::command(Loc::text(QStringLiteral("Switch Magnifier Mode")), QStringLiteral("focusMode"), [tools, prefs] {
                        if (tools.setFocusMode)
                            tools.setFocusMode(prefs->focusMode() == 1 ? 0 : 1);
                    }).key(keyFor(HotKeyAction::focusMode)));
    items.push_back(MenuNode::command(Loc::text(QStringLiteral("Re-select Magnifier Region")), QStringLiteral("focusReselect"),
                                      [tools, prefs] {
                                          if (prefs->focusMode() == 1 && tools.beginRegionPick)
                                              tools.beginRegionPick();
                                      })
                        .enable(prefs->focusMode() == 1)
                        .key(keyFor(HotKeyAction::focusReselect)));
    return items;
}

MenuNode MenuBuilders::toggleBarItem(bool withKey) const
{
    const MenuContext& c = m_context;
    MenuNode item = MenuNode::command(c.isBarVisible() ? Loc::text(QStringLiteral("Hide Toolbar")) : Loc::text(QStringLiteral("Show Toolbar")),
                                      QStringLiteral("toggleBar"), [c] {
                                          if (c.toggleBar)
                                              c.toggleBar();
                                      });
    if (withKey)
        item.key(keyFor(HotKeyAction::toggleBar));
    return item;
}

MenuNode MenuBuilders::penItem() const
{
    RecorderModel* m = m_context.model;
    const ToolActions& tools = m_context.tools;
    using K = RecorderPhase::Kind;
    const RecorderPhase& phase = m->phase();
    // Elsewhere the pen can only be switched off.
    const bool enabled = phase.is(K::ready) || phase.is(K::recording) || phase.is(K::paused) || m->penOn();
    return MenuNode::command(Loc::text(QStringLiteral("Pen")), QStringLiteral("pen"),
                             [m, tools] {
                                 if (tools.setPen)
                                     tools.setPen(!m->penOn());
                             })
        .check(m->penOn())
        .enable(enabled)
        .key(keyFor(HotKeyAction::pen));
}

MenuNode MenuBuilders::focusItem() const
{
    const ToolActions& tools = m_context.tools;
    return MenuNode::command(Loc::text(QStringLiteral("Focus Magnifier")), QStringLiteral("focus"),
                             [tools] {
                                 if (tools.toggleFocus)
                                     tools.toggleFocus();
                             })
        .check(m_context.model->focusOn())
        .key(keyFor(HotKeyAction::focus));
}

MenuNode MenuBuilders::prompterItem() const
{
    const ToolActions& tools = m_context.tools;
    return MenuNode::command(Loc::text(QStringLiteral("Teleprompter")), QStringLiteral("prompter"),
                             [tools] {
                                 if (tools.toggleTeleprompter)
                                     tools.toggleTeleprompter();
                             })
        .check(tools.teleprompterShown && tools.teleprompterShown())
        .key(keyFor(HotKeyAction::prompter));
}

MenuNode MenuBuilders::cameraFullScreenItem() const
{
    RecorderModel* m = m_context.model;
    return MenuNode::command(Loc::text(QStringLiteral("Full-Screen Camera")), QStringLiteral("cameraFullScreen"),
                             [m] { m->toggleCameraFullScreen(); })
        .check(m->cameraFullScreen())
        .enable(m->canToggleCameraFullScreen())
        .key(keyFor(HotKeyAction::cameraFullScreen));
}

MenuNode MenuBuilders::resolutionMenu() const
{
    RecorderModel* m = m_context.model;
    const auto caps = m->screenCapabilities();
    MenuNodes rows;
    if (caps) {
        for (const int r : caps->resolutions()) {
            rows.push_back(MenuNode::command(caps->label(r, &Loc::text), QStringLiteral("resolution.%1").arg(r),
                                             [m, r] { m->setScreenSize(r); })
                               .check(m_context.prefs->outputSize() == r)
                               .enable(!busy()));
        }
    }
    MenuNode menu = MenuNode::menu(Loc::text(QStringLiteral("Screen Resolution")), std::move(rows));
    menu.identifier = QStringLiteral("screenResolution");
    menu.enabled = m->phase().isIdle() && caps.has_value();
    return menu;
}

MenuNode MenuBuilders::cursorMenu() const
{
    Prefs* prefs = m_context.prefs;
    const bool idle = !busy();
    MenuNodes rows;
    rows.push_back(MenuNode::command(Loc::text(QStringLiteral("System Cursor")), QStringLiteral("cursor.system"),
                                     [prefs] { prefs->setCursorTheme(0); })
                       .check(prefs->cursorTheme() == 0)
                       .enable(idle));
    const auto& art = CursorArt::all();
    for (int i = 0; i < int(art.size()); ++i) {
        rows.push_back(MenuNode::command(Loc::text(art[size_t(i)].key), QStringLiteral("cursor.%1").arg(i),
                                         [prefs, i] {
                                             prefs->setCursorTheme(1);
                                             prefs->setCursorArt(i);
                                         })
                           .check(prefs->cursorTheme() == 1 && prefs->cursorArt() == i)
                           .enable(idle));
    }
    rows.push_back(MenuNode::command(Loc::text(QStringLiteral("No Cursor")), QStringLiteral("cursor.none"),
                                     [prefs] { prefs->setCursorTheme(2); })
                       .check(prefs->cursorTheme() == 2)
                       .enable(idle));
    MenuNode menu = MenuNode::menu(Loc::text(QStringLiteral("Cursor")), std::move(rows));
    menu.identifier = QStringLiteral("cursor");
    menu.enabled = idle;
    return menu;
}

MenuNodes MenuBuilders::recordingMenu() const
{
    MenuNodes items = recordingItems(true);
    items.push_back(MenuNode::divider());
    items.push_back(penItem());
    items.push_back(focusItem());
    for (MenuNode& n : magnifierItems())
        items.push_back(std::move(n));
    items.push_back(prompterItem());
    items.push_back(cameraFullScreenItem());
    items.push_back(MenuNode::divider());
    items.push_back(toggleBarItem(true));
    return items;
}

MenuNodes MenuBuilders::dockMenu() const
{
    const MenuContext& c = m_context;
    MenuNodes items = recordingItems(false);
    items.push_back(MenuNode::divider());
    items.push_back(toggleBarItem(false));
    items.push_back(MenuNode::command(Loc::text(QStringLiteral("Settings…")), QStringLiteral("settings"), [c] {
        if (c.showSettings)
            c.showSettings(QString());
    }));
    return items;
}

MenuNodes MenuBuilders::statusMenu() const
{
    const MenuContext& c = m_context;
    RecorderModel* m = c.model;
    MenuNodes items = recordingItems(true);
    items.push_back(MenuNode::divider());
    items.push_back(resolutionMenu());
    items.push_back(cursorMenu());
    if (m->cameraOn() && m->cameraAuthorized()) {
        items.push_back(MenuNode::command(m->cameraPreviewHidden() ? Loc::text(QStringLiteral("Show Camera Feed")) : Loc::text(QStringLiteral("Hide Camera Feed")),
                                          QStringLiteral("cameraFeed"),
                                          [m] { m->setCameraPreviewHidden(!m->cameraPreviewHidden()); }));
    }
    items.push_back(cameraFullScreenItem());
    items.push_back(penItem());
    items.push_back(focusItem());
    for (MenuNode& n : magnifierItems())
        items.push_back(std::move(n));
    items.push_back(prompterItem());
    items.push_back(MenuNode::divider());
    items.push_back(toggleBarItem(true));
    items.push_back(MenuNode::command(Loc::text(QStringLiteral("About Corvessa")), QStringLiteral("about"), [c] {
        if (c.showSettings)
            c.showSettings(QStringLiteral("about"));
    }));
    items.push_back(MenuNode::command(Loc::text(QStringLiteral("Settings…")), QStringLiteral("settings"), [c] {
                        if (c.showSettings)
                            c.showSettings(QString());
                    }).key(QString::fromLatin1(settingsKey)));
    items.push_back(MenuNode::divider());
    items.push_back(MenuNode::command(Loc::text(QStringLiteral("Quit Corvessa")), QStringLiteral("quit"), [c] {
        if (c.quit)
            c.quit();
    }));
    return items;
}

MenuNodes MenuBuilders::mainMenu() const
{
    const MenuContext& c = m_context;
    const auto settings = [c](const QString& pane) {
        return [c, pane] {
            if (c.showSettings)
                c.showSettings(pane);
        };
    };
    MenuNode app = MenuNode::menu(Loc::text(QStringLiteral("Corvessa")), {
        MenuNode::command(Loc::text(QStringLiteral("About Corvessa")), QStringLiteral("about"), settings(QStringLiteral("about"))),
        MenuNode::divider(),
        MenuNode::command(Loc::text(QStringLiteral("Settings…")), QStringLiteral("settings"), settings(QString()))
            .key(QString::fromLatin1(settingsKey)),
        MenuNode::divider(),
        MenuNode::command(Loc::text(QStringLiteral("Hide Corvessa")), QStringLiteral("hide"), [] { WindowCommands::hideAll(); })
            .key(QStringLiteral("Ctrl+H")),
        MenuNode::divider(),
        MenuNode::command(Loc::text(QStringLiteral("Quit Corvessa")), QStringLiteral("quit"), [c] {
            if (c.quit)
                c.quit();
        }).key(QString::fromLatin1(quitKey)),
    });
    app.identifier = QStringLiteral("application");

    const auto edit = [](const char* title, const char* id, const char* key) {
        const QByteArray method(id);
        return MenuNode::command(tr(title), QString::fromLatin1(id), [method] { WindowCommands::edit(method); })
            .key(QString::fromLatin1(key));
    };
    MenuNode editMenu = MenuNode::menu(Loc::text(QStringLiteral("Edit")), {
        edit(Loc::mark("Undo"), "undo", "Ctrl+Z"),
        edit(Loc::mark("Redo"), "redo", "Ctrl+Shift+Z"),
        MenuNode::divider(),
        edit(Loc::mark("Cut"), "cut", "Ctrl+X"),
        edit(Loc::mark("Copy"), "copy", "Ctrl+C"),
        edit(Loc::mark("Paste"), "paste", "Ctrl+V"),
        edit(Loc::mark("Select All"), "selectAll", "Ctrl+A"),
    });
    editMenu.identifier = QStringLiteral("edit");

    MenuNode recording = MenuNode::menu(Loc::text(QStringLiteral("Recording")), {});
    recording.identifier = QStringLiteral("recording");
    recording.provider = [self = *this] { return self.recordingMenu(); };

    MenuNode window = MenuNode::menu(Loc::text(QStringLiteral("Window")), {
        MenuNode::command(Loc::text(QStringLiteral("Minimize")), QStringLiteral("minimize"), [] { WindowCommands::minimize(); })
            .key(QStringLiteral("Ctrl+M")),
        MenuNode::command(Loc::text(QStringLiteral("Zoom")), QStringLiteral("zoom"), [] { WindowCommands::zoom(); }),
        MenuNode::command(Loc::text(QStringLiteral("Close Window")), QStringLiteral("closeWindow"), [] { WindowCommands::closeWindow(); })
            .key(QStringLiteral("Ctrl+W")),
        MenuNode::divider(),
        MenuNode::command(Loc::text(QStringLiteral("Bring All to Front")), QStringLiteral("bringAllToFront"),
                          [] { WindowCommands::bringAllToFront(); }),
    });
    window.identifier = QStringLiteral("window");

    const std::shared_ptr<LinkActions> links = c.links;
    const auto link = [links](void (LinkActions::*open)() const) {
        return [links, open] {
            if (links)
                ((*links).*open)();
        };
    };
    MenuNode help = MenuNode::menu(Loc::text(QStringLiteral("Help")), {
        MenuNode::command(Loc::text(QStringLiteral("Guide")), QStringLiteral("guide"), [c] {
            if (c.showGuide)
                c.showGuide();
        }),
        MenuNode::command(Loc::text(QStringLiteral("Website")), QStringLiteral("website"), link(&LinkActions::openWebsite)),
        MenuNode::divider(),
        MenuNode::command(Loc::text(QStringLiteral("Privacy Policy")), QStringLiteral("privacy"), link(&LinkActions::openPrivacy)),
        MenuNode::command(Loc::text(QStringLiteral("Terms of Service")), QStringLiteral("terms"), link(&LinkActions::openTerms)),
    });
    help.identifier = QStringLiteral("help");

    return {std::move(app), std::move(editMenu), std::move(recording), std::move(window), std::move(help)};
}

} // namespace corvessa
