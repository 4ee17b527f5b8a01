#include "support/ModelHarness.h"

#include "app/AppShortcuts.h"
#include "app/DiscardConfirmation.h"
#include "app/DockActions.h"
#include "app/LaunchArguments.h"
#include "app/MainMenu.h"
#include "app/MenuBuilders.h"
#include "app/MenuDump.h"
#include "app/MenuRenderer.h"
#include "engine/compositor/CursorArt.h"
#include "prefs/KeyBinding.h"
#include "prefs/LinkActions.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>
#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>
#include <QWidget>

namespace corvessa::test {
namespace {

class MenusTest : public ModelHarness {
protected:
    void SetUp() override
    {
        ModelHarness::SetUp();
        make();
        prefs().setBindings({});
        MenuContext c;
        c.model = model.get();
        c.prefs = &prefs();
        c.tools = ToolActions::forModel(*model);
        c.barVisible = [this] { return barShown; };
        c.toggleBar = [this] { barShown = !barShown; ++toggles; };
        c.showSettings = [this](const QString& pane) { panes << pane; };
        c.quit = [this] { ++quits; };
        c.confirmDiscard = [this](bool restart) { DiscardConfirmation::ask(*model, restart); };
        menus = std::make_shared<MenuBuilders>(std::move(c));
    }
    // The menu's top level only (submenu rows are indented).
    static QString topLevel(const MenuNodes& entries)
    {
        QStringList lines = MenuDump::dump(entries).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        lines.removeIf([](const QString& l) { return l.startsWith(QLatin1Char(' ')); });
        return lines.join(QLatin1Char('\n'));
    }
    void run(const MenuNodes& entries, const char* id)
    {
        const MenuNode* node = MenuNode::find(entries, QString::fromLatin1(id));
        ASSERT_TRUE(node && node->action) << id;
        node->action();
    }

    std::shared_ptr<MenuBuilders> menus;
    bool barShown = true;
    int toggles = 0;
    int quits = 0;
    QStringList panes;
};

TEST_F(MenusTest, EachPhaseGivesTheTablesRows)
{
    const QString live = "Pause Recording\nStop Recording\nRestart Recording…\nCancel Recording…";
    const auto idle = [](bool on) {
        const QString off = on ? "" : "  (disabled)";
        return "Start Recording…" + off + "\n---\nRecord Display  [x]" + off + "\nRecord Window  [ ]" + off
            + "\nRecord Area  [ ]" + off;
    };
    struct Case {
        RecorderPhase phase;
        QString block;    // the recording block with the range rows
        QString dockHead; // the recording block without them
        bool choices;     // resolution and cursor can change
        bool pen;         // the pen row is enabled while the pen is off
    };
    const std::vector<Case> cases{
        {RecorderPhase::ready(), idle(true), "Start Recording…", true, true},
        {RecorderPhase::countdown(3), idle(false), "Start Recording…  (disabled)", false, false},
        {RecorderPhase::recording(), live, live, false, true},
        {RecorderPhase::paused(), QString(live).replace("Pause", "Continue"),
         QString(live).replace("Pause", "Continue"), false, true},
        {RecorderPhase::finishing(), idle(false), "Start Recording…  (disabled)", false, false},
        {RecorderPhase::saved("/tmp/a.mov"), idle(true), "Start Recording…", true, false},
        {RecorderPhase::failed("Disk full"), idle(true), "Start Recording…", true, false},
    };
    const QString tools = "Focus Magnifier  [ ]\nZoom In\nZoom Out\nSwitch Magnifier Mode\n"
                          "Re-select Magnifier Region  (disabled)\nTeleprompter  [ ]";
    const QString fullScreen = "Full-Screen Camera  [ ]  (disabled)";
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.phase.kind));
        model->setPhase(c.phase);
        ASSERT_FALSE(model->penOn());
        const QString pen = QString("Pen  [ ]") + (c.pen ? "" : "  (disabled)");
        const QString off = c.choices ? "" : "  (disabled)";
        EXPECT_EQ(topLevel(menus->statusMenu()).toStdString(),
                  (c.block + "\n---\nScreen Resolution >" + off + "\nCursor >" + off + "\n" + fullScreen + "\n" + pen
                   + "\n" + tools + "\n---\nHide Toolbar\nAbout Corvessa\nSettings…  <Ctrl+,>\n---\nQuit Corvessa")
                      .toStdString());
        EXPECT_EQ(topLevel(menus->recordingMenu()).toStdString(),
                  (c.block + "\n---\n" + pen + "\n" + tools + "\n" + fullScreen + "\n---\nHide Toolbar").toStdString());
        EXPECT_EQ(topLevel(menus->dockMenu()).toStdString(),
                  (c.dockHead + "\n---\nHide Toolbar\nSettings…").toStdString());
    }
}

TEST_F(MenusTest, SubmenusKeysAndTheChoicesTheyMake)
{
    prefs().setCursorTheme(1);
    prefs().setCursorArt(0);
    const MenuNodes status = menus->statusMenu(); // the node below points into it
    const MenuNode* cursor = MenuNode::find(status, "cursor");
    ASSERT_TRUE(cursor);
    ASSERT_EQ(cursor->submenu.size(), CursorArt::all().size() + 2);
    EXPECT_EQ(std::count_if(cursor->submenu.begin(), cursor->submenu.end(), [](auto& n) { return n.checked; }), 1);
    EXPECT_TRUE(cursor->submenu[1].checked);
    run(menus->statusMenu(), "cursor.none");
    EXPECT_EQ(prefs().cursorTheme(), 2);

    // A one-character key shows with its modifiers; a named key (F5) shows none.
    prefs().setBindings({{HotKeyAction::pen, {35, KeyBinding::control | KeyBinding::option}},
                         {HotKeyAction::focus, {96, KeyBinding::control}}});
    EXPECT_EQ(MenuNode::find(menus->recordingMenu(), "pen")->keyText, "Ctrl+Alt+p");
    EXPECT_EQ(MenuNode::find(menus->recordingMenu(), "focus")->keyText, "");

    // Saved: the start row shows the hidden bar but starts nothing.
    model->setPhase(RecorderPhase::saved("/tmp/a.mov"));
    barShown = false;
    run(menus->statusMenu(), "recordWindow");
    EXPECT_TRUE(barShown);
    EXPECT_TRUE(model->phase().is(RecorderPhase::Kind::saved));
    run(menus->dockMenu(), "settings");
    run(menus->statusMenu(), "about");
    run(menus->statusMenu(), "quit");
    EXPECT_EQ(panes, QStringList({"", "about"}));
    EXPECT_EQ(quits, 1);
}

TEST_F(MenusTest, RestartAndCancelAskTheirQuestionWhileRunning)
{
    const auto restart = DiscardConfirmation::question(true);
    const auto cancel = DiscardConfirmation::question(false);
    EXPECT_EQ(restart.title, "Restart Recording?");
    EXPECT_EQ(restart.message, "Current recording will not be saved; recording will restart immediately.");
    EXPECT_EQ(restart.ok, "Don't Save, Restart");
    EXPECT_EQ(cancel.title, "Cancel Recording?");
    EXPECT_EQ(cancel.message, "Current recording will be deleted and not saved.");
    EXPECT_EQ(cancel.ok, "Delete and Cancel");

    model->setPhase(RecorderPhase::recording());
    const MenuNodes menu = menus->recordingMenu(); // kept open across the changes below
    confirm->answer = false;
    run(menu, "restart");
    run(menu, "cancel");
    EXPECT_EQ(confirm->asked, QStringList({restart.title, cancel.title}));
    confirm->showing = true;
    run(menu, "restart");
    confirm->showing = false;
    model->setPhase(RecorderPhase::finishing());
    run(menu, "cancel");
    EXPECT_EQ(confirm->asked.size(), 2);
}

TEST_F(MenusTest, LauncherActionsFollowTheDockMenu)
{
    DockActions dock(menus, [this](const QString& line) { logLines << line; });
    EXPECT_FALSE(dock.run("pause"));    // no recording
    EXPECT_FALSE(dock.run("bogus"));
    EXPECT_TRUE(dock.run("toggleBar")); // always offered
    EXPECT_EQ(toggles, 1);
    model->setPhase(RecorderPhase::countdown(2));
    EXPECT_FALSE(dock.run("start"));
    EXPECT_EQ(logLines.filter("[dock]").size(), 4);
    // Each line says what is true of the phase.
    EXPECT_EQ(logLines.filter("[dock] pause is not offered now (no recording runs)").size(), 1);
    model->setPhase(RecorderPhase::recording());
    EXPECT_FALSE(dock.run("start"));
    EXPECT_EQ(logLines.last(), "[dock] start is not offered now (a recording runs)");
    model->setPhase(RecorderPhase::saved("/tmp/a.mov"));
    EXPECT_TRUE(dock.run("start"));
    EXPECT_TRUE(logLines.last().contains("starts nothing")) << logLines.last().toStdString();

    // The launcher file offers exactly these actions, each sent with --action.
    QFile file(CORVESSA_SOURCE_DIR "/data/corvessa.desktop");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    std::map<QString, QString> entries; // "group/key" -> value
    QString group;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
        if (line.startsWith('['))
            group = line.mid(1, line.size() - 2);
        else if (const qsizetype eq = line.indexOf('='); eq > 0)
            entries[group + "/" + line.left(eq)] = line.mid(eq + 1);
    }
    EXPECT_EQ(entries["Desktop Entry/Actions"].split(';', Qt::SkipEmptyParts), DockActions::ids());
    for (const QString& id : DockActions::ids()) {
        EXPECT_EQ(entries["Desktop Action " + id + "/Exec"], "corvessa --action " + id);
        EXPECT_EQ(LaunchArguments::parse({"corvessa", "--action", id}).message(), "action:" + id);
    }
}

TEST(LaunchArgumentsTest, ReadsTheActionAndRefusesNonsense)
{
    EXPECT_EQ(LaunchArguments::parse({"corvessa"}).message(), "reopen");
    EXPECT_EQ(LaunchArguments::parse({"corvessa", "--action=stop"}).message(), "action:stop");
    EXPECT_EQ(LaunchArguments::parse({"corvessa", "file", "--action", "pause"}).message(), "action:pause");
    for (const QStringList& bad : {QStringList{"corvessa", "--action"}, QStringList{"corvessa", "--action", "rm -rf"},
                                   QStringList{"corvessa", "--action="}, QStringList{"c", "--action", "Start"}}) {
        const LaunchArguments a = LaunchArguments::parse(bad);
        EXPECT_FALSE(a.error.isEmpty()) << bad.join(' ').toStdString();
        EXPECT_EQ(a.message(), "reopen");
    }
}

TEST(LinkActionsTest, OpensTheSitesPagesInTheLanguagesSection)
{
    QStringList opened;
    const LinkActions links([&opened](const QUrl& url) {
        opened << url.toString();
        return true;
    });
    links.openWebsite();
    links.openPrivacy();
    links.openTerms();
    EXPECT_EQ(opened, QStringList({"https://corvessa.app/", "https://corvessa.app/privacy", "https://corvessa.app/terms"}));
    EXPECT_EQ(LinkActions::websiteUrl("zh-Hant").toString(), "https://corvessa.app/zh");
    EXPECT_EQ(LinkActions::privacyUrl("zh-Hans").toString(), "https://corvessa.app/zh/privacy");
    EXPECT_EQ(LinkActions::termsUrl("ja").toString(), "https://corvessa.app/terms");
    const QUrl mail = LinkActions::supportUrl("1.2 beta&x");
    EXPECT_EQ(mail.scheme(), "mailto");
    EXPECT_EQ(QUrlQuery(mail).queryItemValue("subject", QUrl::FullyDecoded), "Corvessa 1.2 beta&x support");
}

TEST_F(MenusTest, RendererAndShortcutsRunTheEntries)
{
    QMenu menu;
    int runs = 0;
    MenuRenderer::attach(&menu, [&runs] {
        return MenuNodes{MenuNode::command("A & B", "ab", [&runs] { ++runs; }).check(true).key("Ctrl+,"),
                         MenuNode::divider(), MenuNode::menu("Sub", {MenuNode::command("x", "x", {}).enable(false)})};
    });
    emit menu.aboutToShow(); // a rebuild replaces, never adds
    ASSERT_EQ(menu.actions().size(), 3);
    QAction* ab = menu.actions()[0];
    EXPECT_EQ(ab->text(), "A && B");
    EXPECT_TRUE(ab->isChecked());
    EXPECT_EQ(ab->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    ab->trigger();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(menu.actions()[2]->menu()->actions()[0]->isEnabled());

    // The menu bar: five menus; "Recording" is filled as it opens.
    QWidget window;
    new QVBoxLayout(&window);
    QMenuBar* bar = MainMenu::install(&window, menus);
    QStringList titles;
    for (QAction* a : bar->actions())
        titles << a->text();
    EXPECT_EQ(titles, QStringList({"Corvessa", "Edit", "Recording", "Window", "Help"}));
    QMenu* recording = bar->actions()[2]->menu();
    model->setPhase(RecorderPhase::recording());
    emit recording->aboutToShow();
    EXPECT_EQ(recording->actions()[0]->objectName(), "pause");

    int settings = 0;
    AppShortcuts shortcuts([&settings] { ++settings; }, [this] { ++quits; });
    window.show();
    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_Q);
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(quits, 1);
}

} // namespace
} // namespace corvessa::test
